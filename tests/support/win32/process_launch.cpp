// Windows: CreateProcessW with named pipes whose worker ends are synchronous,
// as a host application's are, and whose test ends are overlapped, so that
// every wait of the test has a deadline.
#include "process_harness.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

namespace native_worker::harness {
namespace {

constexpr DWORD readChunk = 65536;
constexpr DWORD defaultCapacity = 65536;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": Windows error " + std::to_string(GetLastError()));
}

void closeQuietly(HANDLE& handle) {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

// The quoting the C runtime's argument parser undoes.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t unit : argument) {
        if (unit == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(unit == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        text.push_back(unit);
        backslashes = 0;
    }
    text.append(2 * backslashes, L'\\');
    text.push_back(L'"');
    return text;
}

std::wstring environmentBlock(const LaunchOptions& options) {
    std::wstring block;
    const auto dropped = [&options](std::wstring_view name) {
        for (const auto& [key, value] : options.environment)
            if (widen(key) == name) return true;
        for (const auto& removed : options.removedEnvironment)
            if (widen(removed) == name) return true;
        return false;
    };
    wchar_t* inherited = GetEnvironmentStringsW();
    for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring_view text(entry);
        // Entries such as "=C:=C:\..." name drive directories; keep them.
        const std::size_t equals = text.find(L'=', 1);
        if (!dropped(text.substr(0, equals))) block.append(text).push_back(L'\0');
    }
    FreeEnvironmentStringsW(inherited);
    for (const auto& [key, value] : options.environment) block.append(widen(key + "=" + value)).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

struct Ends {
    HANDLE parent = nullptr;
    HANDLE child = nullptr;
};

SECURITY_ATTRIBUTES inheritable() {
    return {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
}

// A pipe is one-way like CreatePipe's; a socketPair stands for the duplex
// named pipe that Node.js gives each of a child's streams on Windows.
Ends makeChannel(Channel channel, bool childReads, DWORD capacity) {
    static std::atomic<unsigned> serial{0};
    const std::wstring name = L"\\\\.\\pipe\\kelvarn-harness-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(serial.fetch_add(1));
    const bool duplex = channel == Channel::socketPair;
    const DWORD direction = duplex ? PIPE_ACCESS_DUPLEX : childReads ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND;
    Ends ends;
    ends.parent = CreateNamedPipeW(name.c_str(), direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, capacity, capacity, 0, nullptr);
    if (ends.parent == INVALID_HANDLE_VALUE) fail("CreateNamedPipeW");
    const DWORD access = duplex ? GENERIC_READ | GENERIC_WRITE : childReads ? GENERIC_READ : GENERIC_WRITE;
    SECURITY_ATTRIBUTES attributes = inheritable();
    ends.child = CreateFileW(name.c_str(), access, 0, &attributes, OPEN_EXISTING, 0, nullptr);
    if (ends.child == INVALID_HANDLE_VALUE) {
        closeQuietly(ends.parent);
        fail("CreateFileW " + std::string(name.begin(), name.end()));
    }
    return ends;
}

HANDLE openInputFile(const LaunchOptions& options) {
    SECURITY_ATTRIBUTES attributes = inheritable();
    if (options.input == InputSource::devNull) {
        HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_EXISTING,
                                  0, nullptr);
        if (null == INVALID_HANDLE_VALUE) fail("open NUL");
        return null;
    }
    wchar_t directory[MAX_PATH + 1];
    wchar_t path[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, directory) || !GetTempFileNameW(directory, L"kvn", 0, path))
        fail("temporary file name");
    // Deleted once the worker, which shares this handle, has closed it too.
    HANDLE file =
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) fail("stdin file");
    const std::string& content = options.inputFileContent;
    DWORD written = 0;
    if (!WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
        written != content.size() || SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) {
        closeQuietly(file);
        fail("stdin file");
    }
    return file;
}

DWORD remainingMs(std::chrono::steady_clock::time_point deadline) {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<DWORD>(left.count());
}

// One overlapped operation on the test's end of a stream.
struct Transfer {
    Transfer() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (!event) fail("CreateEventW");
    }
    ~Transfer() { CloseHandle(event); }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    OVERLAPPED& fresh() {
        overlapped = {};
        overlapped.hEvent = event;
        return overlapped;
    }

    HANDLE event;
    OVERLAPPED overlapped{};
};

// Reads of stdout and stderr: started together, waited for together, and
// finished (cancelled when still pending) before collect returns, so output
// is taken from the pipe only while the test asks for it.
struct Reader {
    HANDLE handle = nullptr;
    Transfer transfer;
    char buffer[readChunk];
    bool pending = false;
    bool ended = false;
    DWORD got = 0;

    void start() {
        got = 0;
        pending = false;
        if (ReadFile(handle, buffer, sizeof buffer, nullptr, &transfer.fresh()) || GetLastError() == ERROR_IO_PENDING)
            pending = true;
        else
            ended = true;
    }

    void finish(bool wait) {
        if (!pending) return;
        if (!wait) CancelIoEx(handle, &transfer.overlapped);
        pending = false;
        if (GetOverlappedResult(handle, &transfer.overlapped, &got, TRUE)) return;
        got = 0;
        if (GetLastError() != ERROR_OPERATION_ABORTED) ended = true;
    }
};

}  // namespace

struct WorkerProcess::System {
    HANDLE process = nullptr;
    HANDLE input = nullptr;
    Transfer write;
    Reader output;
    Reader error;
};

WorkerProcess::WorkerProcess(const std::string& program, LaunchOptions options) : system_(std::make_unique<System>()) {
    Ends input;
    if (options.input == InputSource::channel)
        input = makeChannel(options.channel, true, defaultCapacity);
    else
        input.child = openInputFile(options);
    const DWORD outputCapacity =
        options.outputCapacity != 0 ? static_cast<DWORD>(options.outputCapacity) : defaultCapacity;
    Ends output = makeChannel(options.channel, false, outputCapacity);
    Ends error = makeChannel(Channel::pipe, false, defaultCapacity);

    std::wstring commandLine = quoted(widen(program));
    for (const auto& argument : options.arguments) commandLine += L" " + quoted(widen(argument));
    std::wstring environment = environmentBlock(options);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.child;
    startup.hStdOutput = output.child;
    startup.hStdError = error.child;
    PROCESS_INFORMATION started{};
    BOOL created = FALSE;
    DWORD failure = 0;
    // Wine's server, still starting up, now and then refuses a process with an
    // internal error; a moment later the same call succeeds.
    for (int attempt = 0; attempt < 5; ++attempt) {
        created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(), nullptr, &startup,
                                 &started);
        failure = GetLastError();
        if (created || failure != ERROR_INTERNAL_ERROR) break;
        Sleep(200);
    }
    closeQuietly(input.child);
    closeQuietly(output.child);
    closeQuietly(error.child);
    system_->input = input.parent;
    system_->output.handle = output.parent;
    system_->error.handle = error.parent;
    if (!created) {
        SetLastError(failure);
        fail("CreateProcessW " + program);
    }
    CloseHandle(started.hThread);
    system_->process = started.hProcess;
}

WorkerProcess::~WorkerProcess() {
    if (system_->process && !exitCode_) {
        TerminateProcess(system_->process, 137);
        WaitForSingleObject(system_->process, INFINITE);
    }
    closeQuietly(system_->process);
    closeQuietly(system_->input);
    closeQuietly(system_->output.handle);
    closeQuietly(system_->error.handle);
}

bool WorkerProcess::write(std::string_view bytes, Timeout timeout) {
    const auto deadline = Clock::now() + timeout;
    HANDLE input = system_->input;
    Transfer& transfer = system_->write;
    while (!bytes.empty()) {
        if (!input) return false;
        if (!WriteFile(input, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &transfer.fresh()) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        const bool done = WaitForSingleObject(transfer.event, remainingMs(deadline)) == WAIT_OBJECT_0;
        if (!done) CancelIoEx(input, &transfer.overlapped);
        DWORD written = 0;
        if (!GetOverlappedResult(input, &transfer.overlapped, &written, TRUE) || !done) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

void WorkerProcess::closeInput() {
    closeQuietly(system_->input);
}

void WorkerProcess::closeOutput() {
    closeQuietly(system_->output.handle);
    outputEnded_ = true;
}

int WorkerProcess::processId() const {
    return static_cast<int>(GetProcessId(system_->process));
}

bool WorkerProcess::collect(Clock::time_point deadline, bool wantStdout) {
    Reader* readers[2] = {&system_->output, &system_->error};
    bool* ended[2] = {&outputEnded_, &errorEnded_};
    std::string* buffers[2] = {&output_, &error_};
    for (;;) {
        if (*ended[wantStdout ? 0 : 1]) return false;
        HANDLE events[2];
        DWORD waiting = 0;
        for (int i = 0; i < 2; ++i) {
            readers[i]->ended = *ended[i];
            if (*ended[i]) continue;
            readers[i]->start();
            if (readers[i]->pending) events[waiting++] = readers[i]->transfer.event;
        }
        const bool any = waiting > 0 && WaitForMultipleObjects(waiting, events, FALSE, remainingMs(deadline)) <
                                            WAIT_OBJECT_0 + waiting;
        bool wantedProgress = false;
        for (int i = 0; i < 2; ++i) {
            if (*ended[i]) continue;
            Reader& reader = *readers[i];
            reader.finish(any && WaitForSingleObject(reader.transfer.event, 0) == WAIT_OBJECT_0);
            buffers[i]->append(reader.buffer, reader.got);
            *ended[i] = reader.ended;
            wantedProgress = wantedProgress || ((reader.got > 0 || reader.ended) && (i == 0) == wantStdout);
        }
        if (wantedProgress || Clock::now() >= deadline) return true;
    }
}

std::optional<int> WorkerProcess::waitForExit(Timeout timeout) {
    if (exitCode_) return exitCode_;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
    if (WaitForSingleObject(system_->process, static_cast<DWORD>(wait)) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(system_->process, &code)) fail("GetExitCodeProcess");
    exitCode_ = static_cast<int>(code);
    return exitCode_;
}

}  // namespace native_worker::harness
