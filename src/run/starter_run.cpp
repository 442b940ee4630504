#include "run/starter_run.h"

CStarterRun::CStarterRun(const CRunSettings& settings, IRunObserver& observer)
    : m_http(settings.setting, settings.transfer), m_run(settings, m_window, m_list, m_http, observer) {}

bool CStarterRun::Start() {
  // Without its window the run could not hear its worker: it says so and ends.
  m_window.Create(&m_run);
  return m_run.Start();
}
