#include "modulation/waveform_binding.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <optional>

#include "device/opcodes.hpp"
#include "modulation/modulation_session.hpp"
#include "platform/paths.hpp"

namespace zr {
namespace {

std::optional<std::string>& folder_override() {
  static std::optional<std::string> folder;
  return folder;
}

// dlsym hands out object pointers; POSIX guarantees they convert to the function they name.
template <typename Entry>
void look_up(void* library, const char* name, Entry& entry) {
  entry = reinterpret_cast<Entry>(::dlsym(library, name));
}

EntryPoints look_up_entries(void* library) {
  EntryPoints e;
  look_up(library, "GetALGVersion", e.version);
  look_up(library, "GenSignalObjCreatSelfEncode", e.create);
  look_up(library, "GenSignalObjRelease", e.release);
  look_up(library, "GenerateDigitalModWaveform", e.digital);
  look_up(library, "GenerateAmWaveform", e.am);
  look_up(library, "GenerateFmWaveform", e.fm);
  look_up(library, "GenerateDssWaveform", e.dsss);
  look_up(library, "GeneratePulseWaveform", e.pulse);
  look_up(library, "GenerateMultitoneWaveform", e.multitone);
  look_up(library, "GenerateStepSweepWaveform", e.step_sweep);
  look_up(library, "GenerateRampSweepWaveform", e.ramp_sweep);
  look_up(library, "GenerateOFDMWaveform", e.ofdm);
  look_up(library, "GenerateAWGNWaveform", e.awgn);
  return e;
}

void unbind(ModulationSession& session) {
  if (session.library != nullptr) ::dlclose(session.library);
  session.library = nullptr;
  session.entries = {};
}

}  // namespace

std::string waveform_library_folder() {
  if (folder_override()) return *folder_override();
  return module_dir();
}

ScopedWaveformLibraryFolder::ScopedWaveformLibraryFolder(std::string folder)
    : previous_(folder_override().value_or(std::string{})),
      had_previous_(folder_override().has_value()) {
  folder_override() = std::move(folder);
}

ScopedWaveformLibraryFolder::~ScopedWaveformLibraryFolder() {
  if (had_previous_) {
    folder_override() = previous_;
  } else {
    folder_override().reset();
  }
}

std::int32_t open_waveform_library(DeviceContext& context, void* version) {
  const std::string path = join_path(waveform_library_folder(), kWaveformLibraryName);
  if (::access(path.c_str(), F_OK) != 0) return ZR_MOD_NO_LIBRARY;

  DeviceStatus identity;
  if (context.query_frame(kOpQueryIdentity, identity) != ZR_OK) return ZR_TRANSPORT_FAILED;

  ModulationSession& session = session_of(context);
  if (is_permanent_failure(session.status)) return session.status;

  // The plain name finds the library beside libzr_api.so through its $ORIGIN run path.
  const std::string load_name = folder_override() ? path : std::string(kWaveformLibraryName);
  void* library = ::dlopen(load_name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    session.status = ZR_MOD_NO_LIBRARY;
    return session.status;
  }
  // A second open loads again without releasing the first generator; dlopen counts references,
  // so the earlier one is dropped to keep one per binding.
  unbind(session);
  session.library = library;
  session.entries = look_up_entries(library);
  if (session.entries.create == nullptr) {
    // Nothing to bind to: leave the context unbound rather than call through a null pointer.
    unbind(session);
    return ZR_MOD_NO_LIBRARY;
  }

  if (session.entries.version != nullptr) session.entries.version(version);
  const std::int32_t generator = session.entries.create(
      identity.model, identity.uid_high, static_cast<std::uint32_t>(identity.uid_low),
      static_cast<std::uint32_t>(identity.uid_low >> 32));
  session.generator = generator;
  if (generator == kLibraryFailed) {
    session.status = ZR_MOD_CREATE_FAILED;
  } else if (generator == kLibraryRefused) {
    session.status = ZR_MOD_CREATE_REFUSED;
  } else {
    session.status = ZR_OK;
  }
  return session.status;
}

std::int32_t close_waveform_library(DeviceContext& context) {
  ModulationSession& session = session_of(context);
  if (is_permanent_failure(session.status)) return session.status;
  if (session.library == nullptr || session.entries.release == nullptr) return ZR_MOD_NO_LIBRARY;

  session.status = session.entries.release(session.generator);
  if (session.status == kLibraryFailed) return ZR_MOD_RELEASE_FAILED;
  unbind(session);
  return session.status;
}

}  // namespace zr
