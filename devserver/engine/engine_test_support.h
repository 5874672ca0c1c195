// Test helpers for the engine: a JobIo that records what a job hands back,
// and a fixture with a server, one job and verbs to drive it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mengine/engine.h"

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

  std::string output;
  std::vector<std::string> values;
  std::vector<std::string> callbacks;
  std::vector<std::string> messages;
  std::string callbackAnswer = "answer";
};

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
