// Script: what a test has arranged for the simulated library, and what the
// library has done, shared by the Simulator (the test's side) and the
// simulated objects (the library's side).
//
// Arrangements are keyed by member name, "<Object>.<member>" as in
// "CQGCEL.Startup" or "APIConfiguration.put_TimeZoneCode":
// - a failure makes the next call of the member fail;
// - a null result makes the next call of a member whose result is an object
//   return none, once it has been served as usual (an arrangement for any
//   other member is never used up);
// - an answer is what a request raises once it has been served (Startup
//   answers OnCELStarted). An answer may be replaced, dropped (the request is
//   served, nothing is raised) or held until the test releases it.
// Records keep every call with its arguments and the thread that served it,
// and every event with the thread that raised it, in order, while recording
// is on (it is at first; a benchmark turns it off so that a long stream does
// not pile up records). The fill journal keeps every normal fill the venue
// has reported, in delivery order, whether recording is on or not: it is what
// a paper-trading session traded. Every member is safe to call from any
// thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"
#include "platform/cqgsim/notification.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/cqg/variant.h"
#include "zantrix/framework/datetime.h"

namespace platform::cqgsim {

struct CallRecord {
  std::string member;
  std::vector<zantrix::framework::cqg::Variant> arguments;
  com::DWORD thread = 0;
};

struct EventRecord {
  std::string name;
  com::DWORD thread = 0;
};

// One normal fill as it was reported to the sinks.
struct FillReport {
  std::string orderGuid;
  std::string fillId;
  // The instrument's full name.
  std::string instrument;
  zantrix::framework::cqg::eOrderSide side;
  double price;
  long quantity;
  zantrix::framework::DateTime timestamp;
};

enum class AnswerMode { Deliver, Drop, Hold };

class Script {
 public:
  void RefuseCreation(std::string message);
  // The refusal arranged for the next creation, used up by this call.
  std::optional<std::string> TakeCreationRefusal();

  void FailNextCall(std::string member, std::string message);
  // The failure arranged for the next call of `member`, used up by this call.
  std::optional<std::string> TakeFailure(std::string_view member);

  void ReturnNothingFrom(std::string member);
  // Whether a null result is arranged for the next call of `member`, used up
  // by this call.
  bool TakeNothing(std::string_view member);

  void AnswerWith(std::string member, std::vector<Notification> answer);
  void SetAnswerMode(std::string member, AnswerMode mode);
  // What a served request of `member` raises now: its answer (the arranged
  // one, else `usual`) when delivered, nothing when dropped or held (a held
  // answer is kept for TakeHeld).
  std::vector<Notification> Answer(std::string_view member, std::vector<Notification> usual);
  // The held answers of `member`, oldest first; they are no longer held.
  std::vector<Notification> TakeHeld(std::string_view member);
  // Forgets every held answer, every record and the fill journal. Held events and recorded
  // arguments keep the client's objects alive, and those keep this script
  // alive: the simulator clears it when it goes.
  void Clear();

  void SetRecording(bool on) { recording_.store(on, std::memory_order_relaxed); }
  bool Recording() const { return recording_.load(std::memory_order_relaxed); }

  void RecordCall(CallRecord call);
  void RecordEvent(EventRecord event);
  std::vector<CallRecord> Calls() const;
  std::vector<EventRecord> Events() const;

  void RecordFill(FillReport fill);
  // The fill journal, oldest first.
  std::vector<FillReport> Fills() const;

 private:
  struct Answering {
    AnswerMode mode = AnswerMode::Deliver;
    std::optional<std::vector<Notification>> replacement;
    std::vector<Notification> held;
  };

  mutable std::mutex mutex_;
  std::atomic<bool> recording_{true};
  // How many failures are arranged, so that a call finds none without the
  // lock: a test arranges a failure before the call it aims at, and the call
  // reaches the client's thread through a queue that orders the two.
  std::atomic<std::size_t> failuresArranged_{0};
  // How many null results are arranged, for the same reason.
  std::atomic<std::size_t> nothingsArranged_{0};
  std::vector<std::string> creationRefusals_;
  std::multimap<std::string, std::string, std::less<>> failures_;
  std::multiset<std::string, std::less<>> nothings_;
  std::map<std::string, Answering, std::less<>> answering_;
  std::vector<CallRecord> calls_;
  std::vector<EventRecord> events_;
  std::vector<FillReport> fills_;
};

}  // namespace platform::cqgsim
