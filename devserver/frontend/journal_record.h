// The record format of a database's journal file. A file is the magic line
// kJournalMagic, then records:
//
//   kind (1 byte, 'S' set or 'K' kill)
//   payload length (4 bytes, little-endian)
//   payload: global, subscript count, each subscript, and for a set the
//            value; every text as a 4-byte little-endian length and its bytes
//   checksum (4 bytes, little-endian FNV-1a of kind and payload)
//
// A committed transaction is one record of kind 'T' whose payload is its set
// and kill records, encoded as above one after another; its checksum covers
// them all, so a transaction that a crash tore is ignored whole.
//
// A crash can leave the last record torn (cut short, or with bytes that never
// reached the disk); its length or checksum then fails to match and it is
// ignored, together with anything behind it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mengine/engine.h"

namespace devserver {

inline constexpr std::string_view kJournalMagic = "KVRJNL1\n";

struct JournalRecord {
  enum class Kind : char { kSet = 'S', kKill = 'K' };
  Kind kind = Kind::kSet;
  std::string global;
  mengine::Subscripts subscripts;
  std::string value;  // sets only
};

// Appends the record of one set or kill to out (value counts for sets only).
void appendChange(std::string& out, JournalRecord::Kind kind, std::string_view global,
                  const mengine::Subscripts& subscripts, std::string_view value);

// Decodes the record that starts at pos and moves pos behind it. Returns
// false, leaving pos alone, when the bytes from pos do not hold one whole,
// intact record.
bool decodeRecord(std::string_view data, std::size_t& pos, JournalRecord& record);

// The 'T' record that holds every record of one committed transaction.
std::string encodeTransaction(const std::vector<mengine::JournalSink::Change>& changes);

// Decodes the entry that starts at pos into records (replacing what they
// held): one set or kill, or every change of a transaction. Returns false,
// leaving pos alone, as decodeRecord does.
bool decodeEntry(std::string_view data, std::size_t& pos, std::vector<JournalRecord>& records);

}  // namespace devserver
