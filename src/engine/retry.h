// The rhythm of retried file operations: five tries before the first question
// to the user, then, after each Retry, a round that does not count and five
// more, so six tries between two questions.
#pragma once

class CRetryBudget {
 public:
  // True when a try is left (and takes it); false: time to ask the user.
  bool TakeOne() {
    if (m_nTries == 0) return false;
    --m_nTries;
    return true;
  }
  // After Retry: five more, and the current round is free.
  void Refill() { m_nTries = kTries; }

 private:
  static constexpr int kTries = 5;
  int m_nTries = kTries;
};
