#include "modulation/modulation_session.hpp"

#include <dlfcn.h>

namespace zr {
namespace {

void delete_session(void* session) { delete static_cast<ModulationSession*>(session); }

}  // namespace

// The generator object is not released here: the library's release call may fail, and a
// context going away must not depend on it. The reference the binding holds is dropped.
ModulationSession::~ModulationSession() {
  if (library != nullptr) ::dlclose(library);
}

ModulationSession& session_of(DeviceContext& context) {
  if (!context.modulation.session) {
    context.modulation.session =
        std::unique_ptr<void, void (*)(void*)>(new ModulationSession, &delete_session);
  }
  return *static_cast<ModulationSession*>(context.modulation.session.get());
}

}  // namespace zr
