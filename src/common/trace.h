// The timing trace of a run, for finding where its time goes. Off unless the
// environment variable WREN_TRACE names a file; then every event is a line
//   T <ms since the trace started> <event> [detail]
// and WriteTraceSummary() adds, per category of timed work,
//   S <category> <total ms> <count>
// Fields are separated by tabs. Safe to use from any thread.
#pragma once

#include <chrono>
#include <cstdint>

namespace trace {

bool Enabled();
void Event(const char* name, const char* detail = nullptr);
// Adds one timed piece of work to a category (a string literal).
void Add(const char* category, std::chrono::steady_clock::duration spent);
// Writes the categories' totals and clears them.
void WriteSummary();

// Times its own lifetime into a category.
class Span {
 public:
  explicit Span(const char* category)
      : m_category(Enabled() ? category : nullptr), m_start(std::chrono::steady_clock::now()) {}
  ~Span() {
    if (m_category) Add(m_category, std::chrono::steady_clock::now() - m_start);
  }
  Span(const Span&) = delete;
  Span& operator=(const Span&) = delete;

 private:
  const char* m_category;
  std::chrono::steady_clock::time_point m_start;
};

}  // namespace trace
