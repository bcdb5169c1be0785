#include "platform/FrameMessages.h"

#include <QCoreApplication>

#include "platform/CJob.h"

namespace platform {

const QEvent::Type FrameMessageEvent::kType =
    static_cast<QEvent::Type>(QEvent::registerEventType());

FrameMessageEvent::FrameMessageEvent(unsigned message_, uintptr_t wParam_, intptr_t lParam_,
                                     std::shared_ptr<CJob> job_, std::shared_ptr<SendSlot> reply_)
    : QEvent(kType),
      message(message_),
      wParam(wParam_),
      lParam(lParam_),
      job(std::move(job_)),
      reply(std::move(reply_)) {}

// Handled or discarded, a sent message releases its waiting sender.
FrameMessageEvent::~FrameMessageEvent() {
  if (reply) reply->Complete();
}

void PostFrameMessage(QObject* frame, unsigned message, uintptr_t wParam, intptr_t lParam,
                      std::shared_ptr<CJob> job) {
  QCoreApplication::postEvent(frame,
                              new FrameMessageEvent(message, wParam, lParam, std::move(job)));
}

}  // namespace platform
