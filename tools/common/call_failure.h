// What a failed library call means for the run. Every call of the binding
// layer (binding.h) that the library reports failed is settled here, so no
// utility checks after its calls:
//  - a lost connection (every failure but a line the server rejected) ends
//    the run: the report on standard error, the connection closed, status 1
//    (during the start-up, under kFailsStartUp, the start-up fails instead);
//  - a line the server rejected is dealt with as the rule in force says;
//  - while a LossRaised lives, a lost connection is neither reported nor
//    ends the run: it raises ConnectionLost, whatever rule is in force, for
//    a run that outlives its connection (kvrdbri -m watch) to connect again.
// A report is standard output flushed, then on standard error the rule's
// heading, the library's error text and a line feed.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace kvrtools {

enum class Rejection {
  kPassedOver,  // silently; the call answers false and the run goes on
  kReported,    // reported; the call answers false and the run goes on
  kEndsRun,     // reported, and the run ends as for a lost connection
  // During the start-up: a rejection is passed over as kPassedOver; a lost
  // connection is reported and the call answers false instead of ending the
  // run, so the start-up fails with its own status (255, usage text).
  kFailsStartUp,
};

// Puts a rule in force for the calls made while it lives and the one before
// it back when it goes. Without one, rejections are passed over unheaded.
class FailureRule {
 public:
  explicit FailureRule(Rejection rejection, std::string heading = {});
  ~FailureRule();
  FailureRule(const FailureRule&) = delete;
  FailureRule& operator=(const FailureRule&) = delete;

 private:
  friend void settleFailedCall(std::string_view errorText);
  friend void settleUnsentCall(std::string_view reason);
  Rejection rejection_;
  std::string heading_;
  const FailureRule* previous_;
};

// Raised for a lost connection while a LossRaised lives; what() is the
// library's error text.
class ConnectionLost : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// While one lives, a lost connection raises ConnectionLost. The code that
// catches it must put its own handlers back (binding.h): a handler borrowed
// by the code the exception left is still installed.
class LossRaised {
 public:
  LossRaised();
  ~LossRaised();
  LossRaised(const LossRaised&) = delete;
  LossRaised& operator=(const LossRaised&) = delete;

 private:
  bool previous_;
};

// True when the library's error text is the server's rejection of a line
// (the connection is still usable after it).
bool isServerRejection(std::string_view errorText);

// Called by the binding layer after a call the library reported failed, with
// the library's error text. Returns only when the run goes on (or raises
// ConnectionLost, see LossRaised).
void settleFailedCall(std::string_view errorText);

// Called by the binding layer for a call it did not make because a text did
// not fit a call record (a cut text would be another command). Reported under
// the rule's heading whatever the rule; the call answers false and the run
// goes on, unless the rule ends it. The connection is untouched.
void settleUnsentCall(std::string_view reason);

}  // namespace kvrtools
