#pragma once
// A failure the person has been told about in a box of its own already (the window that
// noticed it said so): the handler that catches it next only logs it. Guarded logs it
// instead of showing it; GuardedCall answers E_ABORT with its message.
//
//   throw Reported<EOfficeWorkerLost>(e.Message());   // still caught as EOfficeWorkerLost
class TReportedFailure {
 public:
  virtual ~TReportedFailure() = default;
};

template <class E>
class Reported : public E, public TReportedFailure {
 public:
  using E::E;
};
