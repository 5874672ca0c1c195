// What every function of the C interface does at the boundary: it reads the
// caller's records through ArgumentText and runs its work inside Guarded, so
// that no exception escapes and every failure is the result 0.
//
// One policy for a bad record, in every function: a missing record, or one
// whose length is more than a record holds, is refused and the call fails.
// Such a length means the record is not what the caller thinks it is; cutting
// it to the record's size would send or store bytes the caller never meant.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "connect_error.h"
#include "kovra_str.h"

namespace kovra {

// The text of the argument record called name; EKovraError when it is
// missing or its length is more than KOVRA_STR_MAX.
inline std::string ArgumentText(const KOVRA_STR* record, const char* name) {
  if (record == nullptr) throw EKovraError(std::string("Missing argument: ") + name + ".");
  if (record->len > KOVRA_STR_MAX) {
    throw EKovraError(std::string("Bad argument: the length of ") + name + " is more than a record holds.");
  }
  return KovraStrToText(record);
}

// The record a call writes its result to; EKovraError when it is missing.
inline KOVRA_STR& ResultRecord(KOVRA_STR* record, const char* name) {
  if (record == nullptr) throw EKovraError(std::string("Missing argument: ") + name + ".");
  return *record;
}

// Runs work and gives its result, or 0 when it throws. failed receives the
// failure's message; the empty text for an exception of unknown kind.
template <typename Work, typename Failed>
int Guarded(Work&& work, Failed&& failed) noexcept {
  try {
    return work();
  } catch (const EKovraError& e) {
    failed(std::string_view(e.Message()));
  } catch (const std::exception& e) {
    failed(std::string_view(e.what()));
  } catch (...) {
    failed(std::string_view());
  }
  return 0;
}

}  // namespace kovra
