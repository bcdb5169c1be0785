#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// How many pictures may be in memory at once. The budget is shared out in
// equal slots, one a job; a picture whose work does not fit in a slot takes
// them all and runs alone. A job waiting to run alone is served before any
// new job takes a slot, so that it is never starved. Any thread.
namespace cli {

class CMemoryGate {
 public:
  CMemoryGate(uint64_t budget, int slots);

  uint64_t Budget() const { return m_budget; }
  int Slots() const { return m_slots; }
  // The bytes of one slot.
  uint64_t SlotBytes() const { return m_budget / static_cast<uint64_t>(m_slots); }

  // Waits for a slot, or for the whole budget. Each returns false without
  // waiting on when stop was called.
  bool TakeSlot();
  bool TakeAll();
  // Gives back what TakeSlot or TakeAll took.
  void GiveSlot();
  void GiveAll();
  // Wakes every waiter; later takes fail.
  void Stop();

 private:
  const uint64_t m_budget;
  const int m_slots;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_taken = 0;         // slots in use; guarded by m_mutex
  bool m_whole = false;    // one job holds the whole budget
  int m_wholeWaiters = 0;  // jobs waiting for the whole budget
  bool m_stopped = false;
};

// Holds what it took until it goes.
class CGateHold {
 public:
  explicit CGateHold(CMemoryGate& gate) : m_gate(gate) {}
  ~CGateHold() { Release(); }
  CGateHold(const CGateHold&) = delete;
  CGateHold& operator=(const CGateHold&) = delete;

  bool Slot() { return Take(false); }
  bool All() { return Take(true); }
  void Release();
  bool HoldsAll() const { return m_all; }

 private:
  bool Take(bool all);

  CMemoryGate& m_gate;
  bool m_held = false;
  bool m_all = false;
};

}  // namespace cli
