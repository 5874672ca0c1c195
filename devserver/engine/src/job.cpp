// Job: one request at a time, with the failures of the standard library
// turned into M errors and HALT into the end of the job.
#include <new>
#include <stdexcept>

#include "interp.h"
#include "parser.h"

namespace mengine {
namespace {

// Runs one request. M errors pass through; HALT ends the job; failures of the
// standard library inside the engine become M errors so the connection
// survives. Other exceptions (those of a JobIo) pass through unchanged.
template <typename Body>
auto guarded(Job::Impl& job, JobIo& io, Body body) -> decltype(body()) {
  job.io = &io;
  struct Reset {
    Job::Impl& job;
    ~Reset() {
      job.io = nullptr;
      job.depth = 0;
    }
  } reset{job};
  job.frames.front().ecode.clear();
  try {
    return body();
  } catch (const MError&) {
    // Reported to the client: the next request starts without it.
    job.ecode.clear();
    throw;
  } catch (const HaltSignal&) {
    job.halted = true;
    return decltype(body())();
  } catch (const std::bad_alloc&) {
    throw MError("<STORE>");
  } catch (const std::length_error&) {
    throw MError("<MAXSTRING>");
  } catch (const std::logic_error&) {
    throw MError("<SYNTAX>");
  }
}

}  // namespace

Job::Job(Server& server, int jobNumber) : impl_(std::make_unique<Impl>(server, jobNumber)) {}
Job::~Job() = default;

void Job::execute(std::string_view line, JobIo& io) {
  Impl& job = *impl_;
  guarded(job, io, [&] {
    std::string text(line);
    auto parsed = job.cachedLine(text);
    Context ctx;
    ctx.source = &text;
    struct Level0 {
      Job::Impl& job;
      ~Level0() { job.frames.front().ctx = nullptr; }
    } level0{job};
    job.frames.front().ctx = &ctx;
    try {
      job.finishGoto(ctx, job.runLine(*parsed, 0, ctx, 0));
    } catch (const MError& e) {
      job.trap(e, ctx);
    }
  });
}

std::string Job::evaluate(std::string_view expression, JobIo& io) {
  Impl& job = *impl_;
  return guarded(job, io, [&] {
    ExprP e = job.cachedExpression(std::string(expression));
    return job.eval(*e);
  });
}

void Job::set(std::string_view reference, std::string_view value, JobIo& io) {
  Impl& job = *impl_;
  guarded(job, io, [&] {
    const std::shared_ptr<const Ref> ref = job.cachedReference(std::string(reference));
    job.store(job.resolve(*ref), std::string(value));
  });
}

void Job::kill(std::string_view reference, JobIo& io) {
  Impl& job = *impl_;
  guarded(job, io, [&] {
    const std::shared_ptr<const Ref> ref = job.cachedReference(std::string(reference));
    job.killTarget(job.resolve(*ref));
  });
}

const std::string& Job::database() const { return impl_->db->name; }

bool Job::halted() const { return impl_->halted; }

}  // namespace mengine
