// Test helpers for the engine: a JobIo that records what a job hands back, a
// journal sink that records changes, and a fixture with a server, one job
// and verbs to drive it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mengine/engine.h"
#include "process.h"

namespace mengine::test {

class RecordingIo : public JobIo {
 public:
  void write(std::string_view bytes) override { output += bytes; }
  void outputValue(std::string_view value) override { values.emplace_back(value); }
  std::string callback(std::string_view name, std::string_view command) override {
    callbacks.push_back(std::string(name) + "|" + std::string(command));
    return callbackAnswer;
  }
  void message(std::string_view id) override { messages.emplace_back(id); }
  bool abandoned() override { return gone; }

  std::string output;
  std::vector<std::string> values;
  std::vector<std::string> callbacks;
  std::vector<std::string> messages;
  std::string callbackAnswer = "answer";
  bool gone = false;  // the client has closed the connection
};

class RecordingSink : public JournalSink {
 public:
  void recordSet(const std::string& database, const std::string& global, const Subscripts& subs,
                 const std::string& value) override {
    records.push_back("S " + database + " " + global + join(subs) + "=" + value);
  }
  void recordKill(const std::string& database, const std::string& global,
                  const Subscripts& subs) override {
    records.push_back("K " + database + " " + global + join(subs));
  }
  static std::string join(const Subscripts& subs) {
    std::string out;
    for (const auto& s : subs) out += "|" + s;
    return out;
  }
  std::vector<std::string> records;
};

// A fresh folder, removed with its content afterwards (the end-to-end
// harness's).
using kvrtest::TempDir;

// A server on the folder: the engine takes its directory with a trailing '/'.
inline ServerOptions withDirectory(const TempDir& dir, JournalSink* sink) {
  ServerOptions o;
  o.directory = dir.path() + "/";
  o.journal = sink;
  return o;
}

class EngineTest : public ::testing::Test {
 protected:
  explicit EngineTest(ServerOptions options = {}) : server_(std::move(options)), job_(server_, 7) {}

  void run(std::string_view line) { job_.execute(line, io_); }
  std::string eval(std::string_view expression) { return job_.evaluate(expression, io_); }
  // The error text a line raises, or "" when it runs cleanly.
  std::string errorOf(std::string_view line) {
    try {
      run(line);
    } catch (const MError& e) {
      return e.what();
    }
    return "";
  }
  std::string evalError(std::string_view expression) {
    try {
      eval(expression);
    } catch (const MError& e) {
      return e.what();
    }
    return "";
  }
  // Output written by the line alone.
  std::string output(std::string_view line) {
    io_.output.clear();
    run(line);
    return io_.output;
  }
  std::vector<std::string> values(std::string_view line) {
    io_.values.clear();
    run(line);
    return io_.values;
  }
  // Stores a routine in ^ROUTINE the way the import utilities do.
  void storeRoutine(const std::string& name, const std::vector<std::string>& lines,
                    const std::string& global = "^ROUTINE") {
    job_.kill(global + "(\"" + name + "\")", io_);
    for (size_t i = 0; i < lines.size(); ++i)
      job_.set(global + "(\"" + name + "\"," + std::to_string(i + 1) + ")", lines[i], io_);
    job_.set(global + "(\"" + name + "\",0)", "66000,100", io_);
    job_.set(global + "(\"" + name + "\")", std::to_string(lines.size()) + ",0", io_);
  }

  Server server_;
  Job job_;
  RecordingIo io_;
};

}  // namespace mengine::test
