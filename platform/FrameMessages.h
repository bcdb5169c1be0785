#pragma once

#include <QEvent>
#include <cstdint>
#include <memory>

class QObject;

// The frame's private messages. Workers and dialogs report to the main frame
// with these; the numbers are fixed because the engine sends the first one.
constexpr unsigned WM_RESIZE_PROGRESS = 1135;
constexpr unsigned WM_LOAD_DONE = 2155;
constexpr unsigned WM_SAVE_DONE = 2156;
constexpr unsigned WM_RESIZE_DONE = 2157;
constexpr unsigned WM_PERCENT_COMMIT = 2158;
// A tick of one of the frame's timers; wParam is the timer's id.
constexpr unsigned WM_TIMER = 0x0113;
// F1 was pressed in the frame, in one of its menus or in a dialog it owns.
constexpr unsigned WM_HELP = 0x0053;

namespace platform {

class CJob;
struct SendSlot;

// A message travelling to the frame: posted (reply is null) or sent
// synchronously from a worker (reply is set and is completed once handled).
class FrameMessageEvent : public QEvent {
 public:
  static const QEvent::Type kType;

  FrameMessageEvent(unsigned message, uintptr_t wParam, intptr_t lParam,
                    std::shared_ptr<CJob> job = {}, std::shared_ptr<SendSlot> reply = {});
  ~FrameMessageEvent() override;

  unsigned message;
  uintptr_t wParam;
  intptr_t lParam;
  std::shared_ptr<CJob> job;  // the job that sent it; null for dialogs' messages
  std::shared_ptr<SendSlot> reply;
};

// Posts a message to the frame from any thread; it is handled by the frame's
// event() on the UI thread, also inside modal dialogs' loops.
void PostFrameMessage(QObject* frame, unsigned message, uintptr_t wParam, intptr_t lParam,
                      std::shared_ptr<CJob> job = {});

}  // namespace platform
