#include "cli/MemoryGate.h"

#include <algorithm>

namespace cli {

CMemoryGate::CMemoryGate(uint64_t budget, int slots)
    : m_budget(budget), m_slots(std::max(1, slots)) {}

bool CMemoryGate::TakeSlot() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(
      lock, [&] { return m_stopped || (!m_whole && m_wholeWaiters == 0 && m_taken < m_slots); });
  if (m_stopped) return false;
  ++m_taken;
  return true;
}

bool CMemoryGate::TakeAll() {
  std::unique_lock lock(m_mutex);
  ++m_wholeWaiters;
  m_changed.wait(lock, [&] { return m_stopped || (!m_whole && m_taken == 0); });
  --m_wholeWaiters;
  if (m_stopped) {
    m_changed.notify_all();
    return false;
  }
  m_whole = true;
  return true;
}

void CMemoryGate::GiveSlot() {
  {
    std::lock_guard lock(m_mutex);
    --m_taken;
  }
  m_changed.notify_all();
}

void CMemoryGate::GiveAll() {
  {
    std::lock_guard lock(m_mutex);
    m_whole = false;
  }
  m_changed.notify_all();
}

void CMemoryGate::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopped = true;
  }
  m_changed.notify_all();
}

bool CGateHold::Take(bool all) {
  Release();
  m_held = all ? m_gate.TakeAll() : m_gate.TakeSlot();
  m_all = m_held && all;
  return m_held;
}

void CGateHold::Release() {
  if (!m_held) return;
  if (m_all)
    m_gate.GiveAll();
  else
    m_gate.GiveSlot();
  m_held = false;
  m_all = false;
}

}  // namespace cli
