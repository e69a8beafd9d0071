// Runs a program with Windows pipes as its standard input and output and
// relays the bytes between them and this relay's own standard streams, then
// exits with the program's exit code:
//
//     wine64 kelvarn-stdio-relay.exe worker.exe --serve
//
// Under Wine, pipes that a Linux parent hands over cannot be peeked and a
// write on them cannot be cancelled; pipes made by CreatePipe behave as on
// Windows. A standard stream that is no pipe (a file, the null device) is
// handed to the program as it is.
#include <windows.h>

#include <atomic>
#include <string>

namespace {

// Input arrives in bursts that the program must see together; output is kept
// small so that a reader that stops reading soon stalls the program's writes.
constexpr DWORD inputCapacity = 65536;
constexpr DWORD outputCapacity = 4096;
constexpr DWORD chunk = 4096;
// After the program has exited, its remaining output is relayed as long as
// the reader keeps taking it; a reader that stalls this long is given up.
constexpr DWORD drainPatienceMs = 1000;

struct Relay {
    HANDLE from;
    HANDLE to;
    std::atomic<unsigned long long> relayed{0};
};

// Ends at the end of input or when either side fails; closing the writing
// end tells the other side that nothing more comes.
DWORD WINAPI relayBytes(void* context) {
    auto& relay = *static_cast<Relay*>(context);
    static thread_local char buffer[chunk];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(relay.from, buffer, chunk, &got, nullptr) || got == 0) break;
        DWORD done = 0;
        while (done < got) {
            DWORD wrote = 0;
            if (!WriteFile(relay.to, buffer + done, got - done, &wrote, nullptr) || wrote == 0) {
                CloseHandle(relay.to);
                return 0;
            }
            done += wrote;
            relay.relayed += wrote;
        }
    }
    CloseHandle(relay.to);
    return 0;
}

bool isPipe(HANDLE handle) {
    return GetFileType(handle) == FILE_TYPE_PIPE;
}

HANDLE inheritableCopy(HANDLE handle) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS);
    return copy;
}

// The command line after the relay's own path, as the program is to get it.
const wchar_t* programCommandLine() {
    const wchar_t* text = GetCommandLineW();
    bool quoted = false;
    for (; *text != L'\0'; ++text) {
        if (*text == L'"') quoted = !quoted;
        if (!quoted && (*text == L' ' || *text == L'\t')) break;
    }
    while (*text == L' ' || *text == L'\t') ++text;
    return text;
}

int fail(const char* what) {
    const std::string text =
        std::string("stdio-relay: ") + what + " failed, error " + std::to_string(GetLastError()) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return 125;
}

}  // namespace

int main() {
    std::wstring commandLine = programCommandLine();
    if (commandLine.empty()) return fail("no program given:");

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE ownInput = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE ownOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    Relay input{ownInput, nullptr};
    Relay output{nullptr, ownOutput};
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    if (!isPipe(ownInput)) {
        childInput = inheritableCopy(ownInput);
    } else if (!CreatePipe(&childInput, &input.to, &inheritable, inputCapacity) ||
               !SetHandleInformation(input.to, HANDLE_FLAG_INHERIT, 0)) {
        return fail("CreatePipe");
    }
    if (!isPipe(ownOutput)) {
        childOutput = inheritableCopy(ownOutput);
    } else if (!CreatePipe(&output.from, &childOutput, &inheritable, outputCapacity) ||
               !SetHandleInformation(output.from, HANDLE_FLAG_INHERIT, 0)) {
        return fail("CreatePipe");
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = inheritableCopy(GetStdHandle(STD_ERROR_HANDLE));
    PROCESS_INFORMATION program{};
    // Without a console: a console host would inherit the pipe ends too and
    // keep the output open after the program has gone.
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &program))
        return fail("CreateProcessW");
    CloseHandle(program.hThread);
    // Only the program holds its ends now, so its exit ends the output pipe.
    CloseHandle(childInput);
    CloseHandle(childOutput);
    CloseHandle(startup.hStdError);

    // The input relay may block on our own standard input for good: it is
    // never waited for.
    if (input.to) CloseHandle(CreateThread(nullptr, 0, relayBytes, &input, 0, nullptr));
    HANDLE outputThread = output.from ? CreateThread(nullptr, 0, relayBytes, &output, 0, nullptr) : nullptr;

    WaitForSingleObject(program.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(program.hProcess, &exitCode);
    if (outputThread) {
        for (auto before = output.relayed.load();; before = output.relayed.load()) {
            if (WaitForSingleObject(outputThread, drainPatienceMs) == WAIT_OBJECT_0) break;
            if (output.relayed.load() == before) break;
        }
    }
    // Leaves at once, even with a relay thread blocked on a stalled reader.
    ExitProcess(exitCode);
}
