// Error processing: $ECODE with the standard's codes, $ETRAP run at the
// level where an error happened, and the levels of $STACK and $ESTACK.
#include "interp.h"
#include "number.h"
#include "parser.h"

namespace mengine {
namespace {

// The standard's code for an engine error ("M6"), or Z and the error's name
// for the errors the standard has no code for ("ZSYNTAX").
std::string errorCode(const std::string& text) {
  std::string name = text.substr(0, text.find('>') + 1);
  struct Code {
    const char* name;
    const char* code;
  };
  static constexpr Code kCodes[] = {
      {"<NAKED>", "M1"},     {"<SELECT>", "M4"},     {"<DIVIDE>", "M9"},
      {"<NOLINE>", "M13"},   {"<PARAMETER>", "M58"}, {"<MAXSTRING>", "M75"},
      {"<MAXNUMBER>", "M92"},
  };
  if (name == "<UNDEFINED>") return text.find(" *^") != std::string::npos ? "M7" : "M6";
  // An unknown special variable; those that exist but cannot be set say so.
  if (name == "<SVN>" && text.find(" cannot ") == std::string::npos) return "M8";
  for (const Code& c : kCodes)
    if (name == c.name) return c.code;
  std::string z = "Z";
  for (char c : name)
    if (c != '<' && c != '>' && c != ' ') z += c;
  return z;
}

}  // namespace

void Job::Impl::notePlace(const MError& e, const Context& ctx) {
  // An XECUTEd line's error is placed where the XECUTE ran.
  if (dynamic_cast<const TrappedError*>(&e) || ctx.xecute) return;
  std::exception_ptr error = std::current_exception();
  if (error == placedError) return;
  placedError = error;
  errorPlace = placeText(ctx);
}

std::string Job::Impl::placedText(const MError& e) const {
  std::string text = e.what();
  if (dynamic_cast<const TrappedError*>(&e) || std::current_exception() != placedError) return text;
  size_t close = text.find('>');
  if (close == std::string::npos || text[0] != '<') return text;
  return text.insert(close + 1, errorPlace);
}

void Job::Impl::recordError(const MError& e) {
  if (dynamic_cast<const TrappedError*>(&e)) return;
  zerror = placedText(e);
  placedError = nullptr;
  auto* coded = dynamic_cast<const CodedError*>(&e);
  std::string code = coded ? coded->code() : errorCode(e.what());
  ecode = (ecode.empty() ? "," : ecode) + code + ",";
  frames.back().ecode += "," + code + ",";
}

void Job::Impl::setEcode(const std::string& value) {
  if (value.empty()) {
    ecode.clear();
    return;
  }
  if (value.front() != ',' || value.back() != ',' || value.size() < 3) throw MError("<ECODE>");
  ecode = value;
  frames.back().ecode = value;
  throw TrappedError("<ECODE> *" + value);
}

void Job::Impl::runTrapped(Context& ctx, size_t index) {
  try {
    finishGoto(ctx, runLines(ctx, index));
  } catch (const MError& e) {
    // An error raised by the trap's own lines leaves this level untrapped.
    trap(e, ctx);
  }
}

void Job::Impl::trap(const MError& e, Context& ctx) {
  bool first = !dynamic_cast<const TrappedError*>(&e);
  recordError(e);
  // The text that goes on names the place where the error happened. At a
  // direct-mode request the client already has the line, so its message is
  // the error alone, as M systems show it at their prompt; $ZERROR and
  // $STACK name the place.
  bool direct = !ctx.routine && !ctx.xecute;
  std::string text = first && !direct ? zerror : std::string(e.what());
  if (etrap.empty()) throw TrappedError(text);
  auto line = cachedLine(etrap);
  Context handler;
  handler.routine = ctx.routine;
  handler.level = ctx.level;
  handler.extrinsic = ctx.extrinsic;
  handler.xecute = true;
  finishGoto(handler, runLine(*line, 0, handler, 0));
  ctx.quitValue = handler.quitValue;
  // The trap ends this level; an error still in $ECODE goes on to the caller.
  if (!ecode.empty()) throw TrappedError(text);
}

void Job::Impl::setSpecial(const SetTarget& t, const std::string& value) {
  switch (t.special) {
    case Svn::X: case Svn::Y: {
      long n = toInteger(value);
      if (n < 0) throw MError("<ILLEGAL VALUE>");
      t.special == Svn::X ? devices.setX(static_cast<size_t>(n)) : devices.setY(static_cast<size_t>(n));
      return;
    }
    case Svn::ETrap:
      etrap = value;
      return;
    case Svn::ZError:
      zerror = value;
      return;
    case Svn::ECode:
      return setEcode(value);
    case Svn::ZOther:
      throw MError("<SVN>");
    default:
      throw MError("<SVN> *$" + t.zname + " cannot be set");
  }
}

void Job::Impl::newSpecial(Svn svn) {
  Frame& frame = frames.back();
  switch (svn) {
    case Svn::ETrap:
      if (!frame.savedEtrap) frame.savedEtrap = etrap;
      return;
    case Svn::EStack:
      if (!frame.savedEstackBase) frame.savedEstackBase = estackBase;
      estackBase = frames.size() - 1;
      return;
    default:
      throw MError("<SVN>");
  }
}

std::string lineOffset(const std::vector<std::string>& lines, size_t index) {
  if (lines.empty()) return "+1";
  size_t i = std::min(index, lines.size() - 1);
  size_t offset = 0;
  // The nearest label at or above the line.
  for (size_t k = i + 1; k-- > 0; ++offset) {
    const std::string& text = lines[k];
    size_t end = text.find_first_of(" \t(;\r");
    std::string label = text.substr(0, end);
    if (!label.empty()) return label + (offset ? "+" + std::to_string(offset) : "");
  }
  return "+" + std::to_string(i + 1);
}

std::string Job::Impl::placeText(const Context& ctx) {
  // A direct-mode request is the one line of a routine that is not stored:
  // its name is none a stored routine is likely to have, and $TEXT of it
  // finds nothing rather than failing inside an error handler.
  if (!ctx.routine) return ctx.xecute ? "" : "+1^%DIRECT";
  return lineOffset(ctx.routine->lines, ctx.lineIndex) + "^" + ctx.routine->name;
}

std::string Job::Impl::stackInfo(long level, const std::string& what) {
  long top = static_cast<long>(frames.size()) - 1;
  if (level == -1) return std::to_string(top);
  if (level < 0 || level > top) return "";
  const Frame& frame = frames[static_cast<size_t>(level)];
  std::string w = upperCase(what);
  if (w.empty()) return level == 0 ? "" : frame.how;
  // The frame's own lines, also while its error trap runs.
  const Context* ctx = frame.ctx ? frame.ctx : current;
  if (w == "ECODE") return frame.ecode;
  if (w == "PLACE") return ctx ? placeText(*ctx) : "";
  if (w == "MCODE") {
    if (ctx && ctx->source) return *ctx->source;
    if (!ctx || !ctx->routine || ctx->lineIndex >= ctx->routine->lines.size()) return "";
    return ctx->routine->lines[ctx->lineIndex];
  }
  throw MError("<FUNCTION>");
}

}  // namespace mengine
