#include "run/part_prefetch.h"

#include <algorithm>

#include "common/stopwatch.h"
#include "engine/file_ops.h"
#include "platform/files.h"
#include "run/download_phase.h"

namespace {
// Reports of CHTTPBinarySession that do not end a transfer.
constexpr int kContentLength = 1;
constexpr int kProgress = 2;
constexpr int kStarted = 3;
}  // namespace

CPartPrefetch::CPartPrefetch(IHttpTransfer& http, IRunHost& host, uint32_t notifyMsg,
                             std::function<uint16_t()> serials)
    : m_http(http), m_host(host), m_nNotifyMsg(notifyMsg), m_serials(std::move(serials)) {}

CPartPrefetch::~CPartPrefetch() { StopAll(1000); }

void CPartPrefetch::SetPlan(std::vector<CPlanPart> plan, unsigned maxRunning) {
  StopAll(1000);
  m_plan = std::move(plan);
  m_nNext = 0;
  m_nMaxRunning = std::max(1u, maxRunning);
}

void CPartPrefetch::Advance(size_t file) {
  m_bActive = true;
  while (m_nNext < m_plan.size() && m_plan[m_nNext].nFile < file) ++m_nNext;
  // What earlier files did not take (their parts were in place already) is not wanted.
  for (size_t i = m_jobs.size(); i-- > 0;)
    if (m_jobs[i]->part.nFile < file) Drop(i, 1000);
  Fill();
}

size_t CPartPrefetch::Running() const {
  return static_cast<size_t>(std::count_if(m_jobs.begin(), m_jobs.end(),
                                           [](const std::unique_ptr<CJob>& job) { return job->nResult == kHttpRunning; }));
}

void CPartPrefetch::SetForeground(bool running) {
  m_bForeground = running;
  if (!running) Fill();
}

void CPartPrefetch::Fill() {
  if (!m_bActive || m_nMaxRunning <= 1) return;
  uint64_t held = 0;
  for (const std::unique_ptr<CJob>& job : m_jobs) held += job->part.dwSize;
  while (m_nNext < m_plan.size() && Running() + (m_bForeground ? 1 : 0) < m_nMaxRunning) {
    const CPlanPart& part = m_plan[m_nNext];
    if (held != 0 && held + part.dwSize > kAheadBytes) break;
    ++m_nNext;
    // A part an earlier run left is the engine's to judge.
    if (plat::FileExists(part.strPath)) continue;
    if (Start(part)) held += part.dwSize;
  }
}

bool CPartPrefetch::Start(const CPlanPart& part) {
  CTransferRequest request;
  request.strUrl = part.strUrl;
  request.strPath = part.strTemp;
  request.dwMaxBytes = part.dwSize;
  request.wSerial = m_serials();
  request.hNotify = m_host.Target();
  request.nNotifyMsg = m_nNotifyMsg;
  CFileErrorRecord error;
  ITransferSession* session = m_http.Start(request, &error);
  if (session == nullptr) return false;  // the part's own download will say why
  auto job = std::make_unique<CJob>();
  job->part = part;
  job->wSerial = request.wSerial;
  job->pSession = session;
  job->dwLastDataTick = m_host.Now();
  m_jobs.push_back(std::move(job));
  return true;
}

bool CPartPrefetch::OnReport(uintptr_t wParam, uint32_t lParam) {
  const uint16_t serial = static_cast<uint16_t>((wParam >> 16) & 0xFFFF);
  const int code = static_cast<int>(wParam & 0xFFFF);
  auto found = std::find_if(m_jobs.begin(), m_jobs.end(),
                            [&](const std::unique_ptr<CJob>& job) { return job->wSerial == serial; });
  if (serial == 0 || found == m_jobs.end()) return false;
  CJob& job = **found;
  if (job.nResult != kHttpRunning) return true;  // what an ended transfer still says
  switch (code) {
    case kStarted:
      job.bStarted = true;
      job.dwLastDataTick = m_host.Now();
      break;
    case kContentLength:
      job.dwTotal = lParam;
      break;
    case kProgress:
      job.dwReceived = lParam;
      job.dwLastDataTick = m_host.Now();
      break;
    default:
      // A transfer ahead that failed is forgotten: the part's own download
      // asks its questions when its turn comes, as for any part.
      if (code != 0) {
        Drop(static_cast<size_t>(found - m_jobs.begin()), 1000);
      } else {
        job.nResult = code;
        job.dwReceived = lParam;
        if (job.pSession != nullptr) job.pSession->Release(1000);
        job.pSession = nullptr;
      }
      Fill();
      break;
  }
  return true;
}

void CPartPrefetch::CheckSilence() {
  const uint32_t now = m_host.Now();
  for (size_t i = m_jobs.size(); i-- > 0;) {
    const CJob& job = *m_jobs[i];
    if (job.nResult == kHttpRunning && CTickStopwatch::ElapsedTicks(job.dwLastDataTick, now) > kSilenceMs) Drop(i, 1000);
  }
  Fill();
}

std::unique_ptr<CPartPrefetch::CJob> CPartPrefetch::Take(const std::string& path) {
  auto found = std::find_if(m_jobs.begin(), m_jobs.end(),
                            [&](const std::unique_ptr<CJob>& job) { return job->part.strPath == path; });
  if (found == m_jobs.end()) return nullptr;
  std::unique_ptr<CJob> job = std::move(*found);
  m_jobs.erase(found);
  return job;
}

void CPartPrefetch::Drop(size_t index, uint32_t waitMs) {
  std::unique_ptr<CJob> job = std::move(m_jobs[index]);
  m_jobs.erase(m_jobs.begin() + static_cast<std::ptrdiff_t>(index));
  if (job->pSession != nullptr) job->pSession->Release(waitMs);
  DeleteFileForced(job->part.strTemp);
}

void CPartPrefetch::StopAll(uint32_t waitMs) {
  m_bActive = false;
  // Every transfer is told first, so that they end together.
  for (const std::unique_ptr<CJob>& job : m_jobs)
    if (job->pSession != nullptr) job->pSession->Abort();
  const uint32_t start = m_host.Now();
  while (!m_jobs.empty()) {
    const uint32_t spent = CTickStopwatch::ElapsedTicks(start, m_host.Now());
    Drop(m_jobs.size() - 1, spent >= waitMs ? 0 : waitMs - spent);
  }
}
