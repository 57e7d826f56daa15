#include "receiver/liberrors.h"

#include "halvex32.h"

namespace halvex {

#define HALVEX_ERROR(name, sentence) {name, #name, sentence}

const std::vector<LibraryError> &LibraryErrors()
{
    static const std::vector<LibraryError> errors = {
        HALVEX_ERROR(HalvexErrorNone, "done"),
        HALVEX_ERROR(HalvexErrorNotSerial, "it is not a serial device"),
        HALVEX_ERROR(HalvexErrorNoDevice, "it does not exist"),
        HALVEX_ERROR(HalvexErrorNoPath, "it does not exist"),
        HALVEX_ERROR(HalvexErrorInUse, "it is in use by another program"),
        HALVEX_ERROR(HalvexErrorBadSession, "the port is not open"),
        HALVEX_ERROR(HalvexErrorNoMemory, "out of memory"),
        HALVEX_ERROR(HalvexErrorRecordsMissing,
                     "the receiver sent fewer records than it announced: some were lost on the line"),
        HALVEX_ERROR(HalvexErrorNotReady, "the receiver is not identified"),
        HALVEX_ERROR(HalvexErrorRefused, "the receiver rejected a packet on every try (a noisy line?)"),
        HALVEX_ERROR(HalvexErrorNotSupported, "the receiver's data type is not one the library speaks"),
        HALVEX_ERROR(HalvexErrorBadArgument, "the data cannot be sent as it is"),
        HALVEX_ERROR(HalvexErrorLogUnwritable, "the log file could not be written"),
        HALVEX_ERROR(HalvexErrorBusy, "another operation is running on the port"),
        HALVEX_ERROR(HalvexErrorDeviceLost, "the receiver was disconnected"),
        HALVEX_ERROR(HalvexErrorPermission, "permission denied (is the user in the dialout group?)"),
        HALVEX_ERROR(HalvexErrorNoAnswer, "the receiver does not answer"),
    };
    return errors;
}

#undef HALVEX_ERROR

const LibraryError *FindLibraryError(int32_t code)
{
    for (const LibraryError &error : LibraryErrors())
        if (error.code == code)
            return &error;
    return nullptr;
}

std::string LibrarySentence(int32_t code)
{
    const LibraryError *error = FindLibraryError(code);
    return error ? error->sentence : "error " + std::to_string(code);
}

} // namespace halvex
