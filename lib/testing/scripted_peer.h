// ScriptedPeer: a stand-in server for the connection tests. It listens on an
// ephemeral 127.0.0.1 port and, in a thread of its own, plays a script of
// byte-exact steps against each connection the client makes: expect these
// bytes, send those, close, accept the next connection. Every wait is bounded,
// so a client that goes wrong makes the script fail instead of hanging.
#pragma once

#include <string>
#include <thread>
#include <vector>

namespace kovra::testing {

class ScriptedPeer {
 public:
  enum class Segmentation {
    kWhole,     // each Send in one write
    kBytewise,  // one byte per write
  };

  explicit ScriptedPeer(Segmentation segmentation = Segmentation::kWhole);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int Port() const { return port_; }

  // Script steps, played in order once Start() is called. The first
  // connection is accepted implicitly.
  ScriptedPeer& Expect(std::string bytes);
  ScriptedPeer& Send(std::string bytes);
  ScriptedPeer& Close();   // closes the current connection
  ScriptedPeer& Accept();  // waits for the client's next connection
  // Aborts the current connection: the client sees a reset, not an orderly
  // end of the stream.
  ScriptedPeer& Reset();
  // Sends nothing for ms milliseconds (a stalled server); bytes the client
  // sends meanwhile are left for the next Expect.
  ScriptedPeer& Pause(int ms);

  // How long each wait of the peer may take.
  void SetWaitLimitMs(int ms) { waitLimitMs_ = ms; }

  void Start();
  // Waits for the script to end (after the last step, the peer reads until
  // the client closes; any byte it receives then is a failure) and returns the
  // first failure, or the empty text when the client behaved.
  std::string Finish();

 private:
  struct Step {
    enum Kind { kExpect, kSend, kClose, kAccept, kReset, kPause } kind;
    std::string bytes;
    int ms = 0;
  };

  void Run();
  void Play();
  bool AcceptOne();
  bool ExpectBytes(const std::string& bytes);
  bool SendBytes(const std::string& bytes);
  void CloseConnection();
  void ResetConnection();
  void ExpectEndOfStream();

  Segmentation segmentation_;
  int listener_ = -1;
  int connection_ = -1;
  int port_ = 0;
  int waitLimitMs_ = 5000;
  std::vector<Step> steps_;
  std::string failure_;
  std::thread thread_;
};

// Replaces every '|' of text with a NUL byte: Z("x|3|w 1") is the execute
// request for "w 1".
std::string Z(std::string_view text);

}  // namespace kovra::testing
