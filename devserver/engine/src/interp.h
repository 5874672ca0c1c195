// The interpreter behind a Job: local variables, the frame stack of DO,
// extrinsic functions, XECUTE and NEW, and the evaluation of parsed lines.
#pragma once

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ast.h"
#include "coded_error.h"
#include "devices.h"
#include "locals.h"
#include "parse_cache.h"
#include "mengine/engine.h"
#include "server_impl.h"
#include "text.h"
#include "tree.h"
#include "value.h"

namespace mengine {

// A variable resolved to its name and subscript values.
struct Target {
  bool global = false;
  std::string name;
  Subscripts subs;
  Database* database = nullptr;  // another database than the job's (^|"USER"|X)
  std::optional<Ssvn> ssvn;      // ^$ROUTINE(...) and the like
  bool naked = false;  // ^(subs) whose name bindNaked has yet to take
};

inline Target localTarget(const std::string& name) {
  Target t;
  t.name = name;
  return t;
}

// Where a QUIT, an IF or the end of a line sends execution next.
enum class Flow { Next, Quit, QuitFor, Goto };

// The context of the lines being run: a routine (or none for direct mode and
// XECUTE), the current line and block level, and whether QUIT must carry a value.
struct Context {
  std::shared_ptr<const Routine> routine;
  size_t lineIndex = 0;
  int level = 0;
  bool extrinsic = false;
  bool xecute = false;  // an XECUTEd line: it has no lines after it
  const std::string* source = nullptr;  // direct mode and XECUTE: the line's text
  std::optional<std::string> quitValue;
  // A pending GOTO: routine and line index to continue at.
  std::shared_ptr<const Routine> gotoRoutine;
  size_t gotoLine = 0;
};

// An entry reference with its indirections and offset evaluated.
struct Place {
  std::string label;
  int offset = 0;
  bool hasOffset = false;
  std::string routine;  // empty: the routine running
};

// Thrown by HALT through every frame up to the Job.
struct HaltSignal {};

// An error whose code is already in $ECODE: raised again in the calling
// frame after a trap left $ECODE set, or by SET $ECODE.
class TrappedError : public MError {
 public:
  using MError::MError;
};

struct Job::Impl {
  Impl(Server& server, int jobNumber);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  Server& server;
  int jobNumber;
  Database* db;
  Locals locals;
  bool test = false;
  bool halted = false;
  Devices devices;
  TransactionLog transaction;
  TransactionLog* transactionLog() { return transaction.level() > 0 ? &transaction : nullptr; }
  JobIo* io = nullptr;

  // What NEW saved in a frame: one variable (null when it did not exist),
  // or the whole symbol table for argumentless and exclusive NEW.
  struct Saved {
    std::string name;
    std::shared_ptr<Node> node;
    std::optional<Locals> all;
    std::vector<std::string> kept;  // with all: the names an exclusive NEW left alone
  };
  struct Frame {
    std::vector<Saved> saved;
    std::optional<bool> savedTest;
    std::string how;          // how the level was entered: DO, XECUTE or $$
    Context* ctx = nullptr;   // the lines run at this level
    std::string ecode;        // the errors raised at this level
    std::optional<std::string> savedEtrap;  // NEW $ETRAP
    std::optional<size_t> savedEstackBase;  // NEW $ESTACK
  };
  std::vector<Frame> frames;  // frames[0] is direct mode and is never popped
  int depth = 0;
  Context* current = nullptr;  // the context of the line being run
  std::optional<Target> naked;  // the last global reference, for ^(subs)

  // ---- error processing (errors.cpp) ----
  std::string ecode;   // $ECODE
  std::string etrap;   // $ETRAP
  size_t estackBase = 0;  // the level $ESTACK counts from
  // Runs lines from index in ctx; an error there runs $ETRAP at this level.
  void runTrapped(Context& ctx, size_t index);
  // Records error e in $ECODE and runs $ETRAP at the current level; throws
  // when no trap is set or the trap leaves $ECODE set.
  void trap(const MError& e, Context& ctx);
  void recordError(const MError& e);
  // The error's text with its place: "<UNDEFINED>SUB+1^ERR *x".
  std::string placedText(const MError& e) const;
  // Called for an error leaving a line: remembers the line as its place
  // unless an inner line did, or the line is not a routine's.
  void notePlace(const MError& e, const Context& ctx);
  std::exception_ptr placedError;  // the error errorPlace belongs to
  std::string errorPlace;
  std::string zerror;  // $ZERROR: the last error's text with its place
  // SET $ECODE: an empty value ends error processing, any other starts it.
  void setEcode(const std::string& value);
  void newSpecial(Svn svn);
  // $STACK and $STACK(level[,what]).
  std::string stackInfo(long level, const std::string& what);
  std::string placeText(const Context& ctx);

  // ---- caches of parsed text (indirection, XECUTE, repeated requests) ----
  std::shared_ptr<const Line> cachedLine(const std::string& text);
  ExprP cachedExpression(const std::string& text);
  std::shared_ptr<const Ref> cachedReference(const std::string& text);
  std::shared_ptr<const Pattern> cachedPattern(const std::string& text);
  ParseCache<std::shared_ptr<const Line>> lineCache;
  ParseCache<ExprP> exprCache;
  ParseCache<std::shared_ptr<const Ref>> refCache;
  ParseCache<std::shared_ptr<const Pattern>> patternCache;

  // ---- variables (vars.cpp) ----
  Database& dbOf(const Target& t) { return t.database ? *t.database : *db; }
  // ^$ROUTINE and ^$GLOBAL (structured.cpp).
  std::optional<std::string> structuredValue(const Target& t);
  std::string structuredOrder(const Target& t, bool forward);
  // A reference's subscripts and indirection evaluated and its naked form
  // bound, setting the naked indicator for a global.
  Target resolve(const Ref& ref);
  // The first half of resolve: a naked reference stays unbound and the naked
  // indicator untouched, for the commands whose targets take their place
  // only after the value is known (SET, MERGE).
  Target resolveSubscripts(const Ref& ref);
  void bindNaked(Target& t, bool setIndicator = true);
  std::optional<std::string> fetch(const Target& t);
  std::string fetchOrThrow(const Target& t);
  void store(const Target& t, std::string value);
  void killTarget(const Target& t);
  int dataOf(const Target& t);
  std::string order(const Target& t, bool forward);
  void newVariable(const std::string& name);
  void newAllExcept(const std::vector<std::string>& keep);
  void killAllExcept(const std::vector<std::string>& keep);
  std::shared_ptr<Node> localRoot(const std::string& name, bool create);
  // The root of a local variable, made when there is none.
  Node& localNode(const std::string& name);

  // ---- expressions (eval.cpp, functions.cpp) ----
  // The value as a string of its own.
  std::string eval(const Expr& e) { return evalValue(e).take(); }
  // The value, possibly read in place (see Value).
  Value evalValue(const Expr& e);
  Value evalBinary(const Expr& e);
  // One operator of a chain: its left operand l, already evaluated,
  // becomes the result.
  void applyBinary(const Expr& e, Value& l);
  Number arithmetic(const Expr& e, const Value& l, const Value& r);
  // A local variable's value read in place; null when it has none.
  const std::string* localValue(const std::string& name, const Subscripts& subs);
  Value evalVariable(const Expr& e);
  // The intrinsic functions evaluated on values; the others go to evalFunction.
  Value evalIntrinsic(const Expr& e);
  std::string evalFunction(const Expr& e);
  std::string referenceFunction(const Expr& e);
  std::string nameFunction(Fn fn, const std::vector<std::string>& args);
  // A $ORDER-style direction: true for 1, false for -1.
  bool direction(const std::string& value);
  // $INCREMENT: one step for a global, under its database's lock.
  std::string increment(const Target& t, const std::string& by);
  std::string query(Target t);
  // $VIEW: only ("PROC",6), the server directory.
  std::string view(const std::vector<std::string>& args);
  std::string evalSpecial(const Expr& e);
  std::string horolog() const;
  // $TEXT: the text of a routine line, "" when there is none.
  std::string lineText(const EntryRef& entry);

  // ---- commands (exec.cpp) ----
  Flow runLine(const Line& line, size_t from, Context& ctx, int forDepth);
  Flow runCommand(const Line& line, size_t index, Context& ctx, int forDepth, bool& lineDone);
  Flow runFor(const Line& line, size_t index, Context& ctx, int forDepth);
  // IF: false when the rest of the line is skipped.
  bool runIf(const Command& c);
  Flow runQuit(const Command& c, Context& ctx, int forDepth);
  Flow runDoCommand(const Command& c, Context& ctx);
  void runKillOrNew(const Command& c);
  void runMerge(const MergeArg& arg);
  // Copies every value below source to the same place below target.
  void mergeInto(const Target& target, const Target& source);
  Flow runOtherCommand(const Command& c);
  void runHang(const Command& c);
  // HALT: rolls back an open transaction and ends the job.
  [[noreturn]] void halt();
  // Ends the job when its client has gone (JobIo::abandoned).
  void checkAbandoned();
  unsigned long steps = 0;  // commands run, to ask for the client now and then
  void runZnspace(const Command& c);
  void runSet(const SetArg& arg);
  void setPart(const SetTarget& t, Target& target, const std::string& a2,
               const std::string& a3, const std::string& a4, const std::string& value);
  void runWrite(const WriteItem& item);
  void runRead(const ReadItem& item);
  // OPEN, USE or CLOSE of one device.
  void runDevice(Cmd cmd, const DeviceArg& arg);
  // ZWRITE of a special variable: $NAME=value.
  void writeSpecial(const Ref& ref);
  // TSTART, TCOMMIT, TROLLBACK.
  void runTransaction(const Command& c);
  // JOB: label+offset^routine(values) as a new job of the server.
  void runJob(const DoArg& arg);
  // SET of a special variable ($X, $Y, $ECODE, $ETRAP).
  void setSpecial(const SetTarget& t, const std::string& value);
  void write(std::string_view text);
  // Argumentless WRITE: every local node as name=value.
  void writeLocals();
  // ZWRITE of one variable: every node below it as name(subscripts)=value.
  void writeNodes(const Target& t);
  Flow runDo(const DoArg& arg, Context& ctx, bool isGoto);
  void runXecute(const std::string& text);
  void runLock(const Command& c);
  void runLockArgument(const LockArg& arg);
  void runXecuteCommand(const Command& c);
  // IF, XECUTE, HANG: whether argument i is @expr standing for arguments.
  static bool isIndirect(const Command& c, size_t i) {
    return i < c.indirectArgs.size() && c.indirectArgs[i];
  }
  int lockOwner;  // this job's identity in the lock table
  // Runs the lines of a routine from index at the given block level.
  Flow runLines(Context& ctx, size_t index);

  // Calls label^routine with actual parameters; returns the QUIT value.
  std::optional<std::string> call(const EntryRef& entry, bool extrinsic, Context* caller);
  Place placeOf(const EntryRef& entry);
  // Actual parameters: a value, a by-reference alias, or neither (absent).
  struct Actuals {
    std::vector<std::optional<std::string>> values;
    std::vector<std::shared_ptr<Node>> aliases;
  };
  Actuals evalActuals(const EntryRef& entry);
  std::optional<std::string> enter(const std::shared_ptr<const Routine>& r, size_t index,
                                   const Line& first, Actuals& actuals, bool extrinsic);
  // The routine's parsed form, shared with every job of the server.
  std::shared_ptr<const Routine> loadRoutine(const std::string& name);
  size_t findLabel(const Routine& r, const std::string& label, int offset);
  const Line& lineAt(const Routine& r, size_t index);

  // ---- built-in system routines (system.cpp) ----
  // True when routine names a built-in; then result holds its value.
  bool callBuiltin(const std::string& routine, const std::string& label,
                   const std::vector<std::string>& args, std::optional<std::string>& result);
  void compile(const std::string& nameWithType);
  std::optional<std::string> readIni(const std::string& file, const std::string& section,
                                     const std::string& key) const;
  // Runs lines after a GOTO left the current context.
  void finishGoto(Context& ctx, Flow flow);

  struct FrameGuard;
  struct IndirectionLevel;
  // Calls visit with the target and value of every node at or below t
  // that holds a value, in collation order, from a copy of the tree.
  void forEachValueBelow(const Target& t,
                         const std::function<void(const Target&, const std::string&)>& visit);
};

// One more level of indirection while alive: a runaway (x="@x") fails with
// <FRAMESTACK> instead of exhausting the stack.
struct Job::Impl::IndirectionLevel {
  explicit IndirectionLevel(Job::Impl& j) : job(j) {
    if (++job.depth > 200) {
      --job.depth;
      throw MError("<FRAMESTACK>");
    }
  }
  ~IndirectionLevel() { --job.depth; }
  IndirectionLevel(const IndirectionLevel&) = delete;
  IndirectionLevel& operator=(const IndirectionLevel&) = delete;
  Job::Impl& job;
};

// Pushes a frame on construction and pops it (restoring NEWed variables and,
// when asked, $TEST) on destruction, also when an error unwinds.
struct Job::Impl::FrameGuard {
  FrameGuard(Job::Impl& job, bool restoreTest, const char* how);
  ~FrameGuard();
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;
  Job::Impl& job;
};

[[noreturn]] void throwUndefined(const Target& t);
// A routine line as M names it: label+offset from the nearest label at or
// above it ("BAD+1"), the label alone, or +line when no label precedes it.
std::string lineOffset(const std::vector<std::string>& lines, size_t index);
std::string displayName(const Target& t);

}  // namespace mengine
