#include "loop_control.h"

#include <chrono>

void LoopControl::RequestPause() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pause = true;
    m_asked = true;
}

void LoopControl::RequestContinue() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pause = false;
    m_asked = m_stop;
    m_changed.notify_all();
}

void LoopControl::RequestStop() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
    m_asked = true;
    m_changed.notify_all();
}

bool LoopControl::Paused() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_resting;
}

bool LoopControl::StopRequested() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_stop;
}

bool LoopControl::PauseRequested() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pause;
}

void LoopControl::Reset() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pause = m_stop = m_resting = false;
    m_asked = false;
}

bool LoopControl::BeforeRead(unsigned restMs) {
    if (!m_asked.load()) return true;
    std::unique_lock<std::mutex> lock(m_lock);
    while (m_pause && !m_stop) {
        m_resting = true;
        m_changed.wait_for(lock, std::chrono::milliseconds(restMs));
    }
    m_resting = false;
    return !m_stop;
}

void LoopControl::Ended() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_resting = false;
}
