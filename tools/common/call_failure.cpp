#include "call_failure.h"

#include <cstdio>
#include <cstdlib>

#include "binding.h"
#include "exit_status.h"
#include "wire_format.h"

namespace kvrtools {
namespace {

const FailureRule* ruleInForce = nullptr;
bool lossRaised = false;

void report(std::string_view heading, std::string_view errorText) {
  // Written whole: a server's reply inside the error text may hold a NUL.
  std::string text(heading);
  text.append(errorText);
  text += '\n';
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

[[noreturn]] void endRun() {
  disconnectServer();
  std::exit(kStatusFailed);
}

}  // namespace

FailureRule::FailureRule(Rejection rejection, std::string heading)
    : rejection_(rejection), heading_(std::move(heading)), previous_(ruleInForce) {
  ruleInForce = this;
}

FailureRule::~FailureRule() { ruleInForce = previous_; }

LossRaised::LossRaised() : previous_(lossRaised) { lossRaised = true; }

LossRaised::~LossRaised() { lossRaised = previous_; }

bool isServerRejection(std::string_view errorText) {
  // The library words every failure the server reports for a line this way;
  // the connection stays open after it.
  return errorText.starts_with(kovra::wire::kServerErrorPrefix);
}

void settleFailedCall(std::string_view errorText) {
  const Rejection rejection = ruleInForce ? ruleInForce->rejection_ : Rejection::kPassedOver;
  const std::string_view heading = ruleInForce ? std::string_view(ruleInForce->heading_) : std::string_view();
  if (isServerRejection(errorText)) {
    if (rejection == Rejection::kReported || rejection == Rejection::kEndsRun) report(heading, errorText);
    if (rejection == Rejection::kEndsRun) endRun();
    return;
  }
  if (lossRaised) throw ConnectionLost(std::string(errorText));
  report(heading, errorText);
  if (rejection != Rejection::kFailsStartUp) endRun();
}

void settleUnsentCall(std::string_view reason) {
  report(ruleInForce ? std::string_view(ruleInForce->heading_) : std::string_view(), reason);
  if (ruleInForce && ruleInForce->rejection_ == Rejection::kEndsRun) endRun();
}

}  // namespace kvrtools
