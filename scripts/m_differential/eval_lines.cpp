// Runs each line of standard input as M in one job of the engine and writes
// what the line wrote, or ERR: and the error, as one line of output.
#include <iostream>
#include <string>

#include "mengine/engine.h"

namespace {

class CollectingIo : public mengine::JobIo {
 public:
  void write(std::string_view bytes) override { out += bytes; }
  void outputValue(std::string_view) override {}
  std::string callback(std::string_view, std::string_view) override { return ""; }
  void message(std::string_view) override {}

  std::string out;
};

}  // namespace

int main() {
  mengine::Server server(mengine::ServerOptions{});
  mengine::Job job(server, 1);
  CollectingIo io;
  std::string line;
  while (std::getline(std::cin, line)) {
    io.out.clear();
    try {
      job.execute(line, io);
    } catch (const mengine::MError& e) {
      io.out += std::string("ERR:") + e.what();
    }
    std::cout << io.out << '\n';
  }
}
