// Fresh UUIDs as text for MIME boundaries: UuidCreate and UuidToStringA of the RPC run-time.
// Empty text when the run-time cannot make or format one.
#include <windows.h>

#include <rpc.h>

#include "platform/uuid.h"

namespace platform {

std::string NewUuidText() {
    UUID uuid;
    const RPC_STATUS created = UuidCreate(&uuid);
    // A UUID that is only locally unique still serves as a delimiter.
    if (created != RPC_S_OK && created != RPC_S_UUID_LOCAL_ONLY) {
        return {};
    }
    RPC_CSTR text = nullptr;
    if (UuidToStringA(&uuid, &text) != RPC_S_OK || text == nullptr) {
        return {};
    }
    std::string result(reinterpret_cast<const char*>(text));
    RpcStringFreeA(&text);
    return result;
}

}  // namespace platform
