// The I/O commands: WRITE and ZWRITE, READ, and OPEN, USE and CLOSE of the
// job's devices.
#include "interp.h"
#include "number.h"
#include "parser.h"

namespace mengine {
namespace {

// A value as ZWRITE shows it: numbers bare, other texts quoted.
std::string shown(const std::string& v) { return isCanonicalNumber(v) ? v : quoted(v); }

}  // namespace

void Job::Impl::write(std::string_view text) {
  devices.advance(text);
  if (!devices.atPrincipal()) {
    devices.writeFile(text);
  } else if (io) {
    io->write(text);
  }
}

void Job::Impl::writeNodes(const Target& t) {
  forEachValueBelow(t, [&](const Target& node, const std::string& v) {
    write(displayName(node) + "=" + shown(v) + std::string(devices.newLine()));
  });
}

void Job::Impl::writeLocals() {
  std::vector<std::string> names;
  for (const auto& entry : locals) names.push_back(entry.first);
  for (const auto& name : names) writeNodes(localTarget(name));
}

void Job::Impl::writeSpecial(const Ref& ref) {
  Expr e;
  e.kind = Expr::Kind::Special;
  e.svn = *ref.special;
  e.text = ref.name;
  std::string v = evalSpecial(e);
  write("$" + ref.name + "=" + shown(v) + std::string(devices.newLine()));
}

void Job::Impl::runWrite(const WriteItem& item) {
  switch (item.kind) {
    case '!':
      write(devices.newLine());
      break;
    case '#':
      write("\f");
      break;
    case '?': {
      long to = std::min(toInteger(eval(*item.expr)), static_cast<long>(kMaxString));
      long x = static_cast<long>(devices.x());
      if (to > x) write(std::string(static_cast<size_t>(to - x), ' '));
      break;
    }
    case '*': {
      long code = toInteger(eval(*item.expr));
      if (code >= 0 && code <= 255) write(std::string(1, static_cast<char>(code)));
      break;
    }
    case '/':
      throw MError("<COMMAND> */" + item.expr->text + " not available");
    case '@': {
      IndirectionLevel level(*this);
      for (const auto& inner : parseWriteArguments(eval(*item.expr))) runWrite(inner);
      break;
    }
    default:
      write(eval(*item.expr));
  }
}

// READ at the principal device finds no input at once: the client cannot
// type into a request, and a routine that prompts must not hang the server.
void Job::Impl::runRead(const ReadItem& item) {
  if (item.kind == '@') {
    IndirectionLevel level(*this);
    for (const auto& inner : parseReadArguments(eval(*item.expr))) runRead(inner);
    return;
  }
  if (item.kind != 'v' && item.kind != '*') {
    runWrite(WriteItem{item.kind, item.expr});
    return;
  }
  Target target = resolve(item.ref);
  long length = item.length ? toInteger(eval(*item.length)) : -1;
  if (item.length && length < 1) throw MError("<READ>");
  if (item.timeout) eval(*item.timeout);
  std::optional<std::string> line;
  if (!devices.atPrincipal()) line = devices.readLine(item.kind == '*' ? 1 : length);
  if (item.kind == '*') {
    store(target, line && !line->empty() ? std::to_string(static_cast<unsigned char>((*line)[0])) : "-1");
  } else {
    store(target, line.value_or(""));
  }
  if (item.timeout) test = line.has_value();
}

void Job::Impl::runDevice(Cmd cmd, const DeviceArg& arg) {
  if (arg.indirect) {
    IndirectionLevel level(*this);
    for (const auto& inner : parseDeviceArguments(eval(*arg.indirect))) runDevice(cmd, inner);
    return;
  }
  std::string name = eval(*arg.device);
  // Device 0 is the principal device, as in older M code (U 0).
  if (name == "0") name = devices.principal();
  std::map<std::string, std::string> params;
  for (const auto& p : arg.params) {
    std::string value = p.value ? eval(*p.value) : "";
    params[p.keyword.empty() ? upperCase(value) : p.keyword] = value;
  }
  switch (cmd) {
    case Cmd::Open: {
      bool opened = devices.open(name, params);
      if (arg.timeout) {
        eval(*arg.timeout);
        test = opened;
      } else if (!opened) {
        throw MError("<DEVICE> *" + name + " cannot be opened");
      }
      return;
    }
    case Cmd::Use:
      devices.use(name);
      return;
    default:
      devices.close(name, params.count("DELETE") > 0);
  }
}

}  // namespace mengine
