// The structured system variables the engine knows: ^$ROUTINE(name) is
// defined for every stored routine, ^$GLOBAL(name) for every global of the
// job's database. Both can be walked with $ORDER; the others fail.
#include "interp.h"

namespace mengine {
namespace {

// A global's name with or without its caret, as ^$GLOBAL takes it.
std::string bareGlobal(const std::string& name) {
  return !name.empty() && name[0] == '^' ? name.substr(1) : name;
}

}  // namespace

std::optional<std::string> Job::Impl::structuredValue(const Target& t) {
  if (t.subs.size() != 1) {
    if (t.subs.empty() && (*t.ssvn == Ssvn::Routine || *t.ssvn == Ssvn::Global)) return std::nullopt;
    throw MError("<SVN> *" + displayName(t));
  }
  switch (*t.ssvn) {
    case Ssvn::Routine:
      if (server.impl().data(*db, "ROUTINE", {t.subs[0]}) == 0) return std::nullopt;
      return "";
    case Ssvn::Global: {
      std::string name = bareGlobal(t.subs[0]);
      if (name.empty() || server.impl().data(*db, name, {}) == 0) return std::nullopt;
      return "";
    }
    default:
      throw MError("<SVN> *" + displayName(t));
  }
}

std::string Job::Impl::structuredOrder(const Target& t, bool forward) {
  if (t.subs.size() != 1) throw MError("<SVN> *" + displayName(t));
  auto& srv = server.impl();
  switch (*t.ssvn) {
    case Ssvn::Routine:
      return srv.order(*db, "ROUTINE", {t.subs[0]}, forward);
    case Ssvn::Global: {
      // The first level of the database's tree is the global names.
      std::lock_guard lock(db->mutex);
      std::string next = orderOf(db->globals, {bareGlobal(t.subs[0])}, forward);
      return next.empty() ? "" : "^" + next;
    }
    default:
      throw MError("<SVN> *" + displayName(t));
  }
}

}  // namespace mengine
