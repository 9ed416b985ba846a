#include <windows.h>

#include <stdexcept>
#include <string>

#include "StalledTransform.h"
#include "WinTestFiles.h"

namespace kestrove::testing {

namespace {

// The helper program is built beside the test program (StalledTransformChild_win.cpp).
std::wstring HelperProgram() {
    return (ProgramFolder() / L"kestrove-stalled-transform.exe").native();
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

}  // namespace

StalledTransform::StalledTransform(const std::filesystem::path& file, detail::WriteStage stage,
                                   std::uint64_t offset, std::size_t blockSize) {
    const std::wstring eventName = L"Local\\kestrove-stalled-" +
                                   std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetTickCount64());
    const HANDLE stalled = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    if (stalled == nullptr) {
        throw std::runtime_error("cannot make an event");
    }
    std::wstring command = Quoted(HelperProgram()) + L" " + Quoted(file.native()) + L" " +
                           std::to_wstring(static_cast<int>(stage)) + L" " +
                           std::to_wstring(offset) + L" " + std::to_wstring(blockSize) + L" " +
                           eventName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        CloseHandle(stalled);
        throw std::runtime_error("cannot start kestrove-stalled-transform.exe");
    }
    CloseHandle(process.hThread);
    m_process = reinterpret_cast<std::intptr_t>(process.hProcess);
    const HANDLE waited[] = {stalled, process.hProcess};
    const DWORD woken = WaitForMultipleObjects(2, waited, FALSE, 60000);
    CloseHandle(stalled);
    if (woken != WAIT_OBJECT_0) {
        Kill();
        throw std::runtime_error("the transform ended before it got to the point to stop at");
    }
}

StalledTransform::~StalledTransform() {
    Kill();
}

void StalledTransform::Kill() {
    if (m_process != 0) {
        const auto process = reinterpret_cast<HANDLE>(m_process);
        TerminateProcess(process, 9);
        WaitForSingleObject(process, 60000);
        CloseHandle(process);
        m_process = 0;
    }
}

}  // namespace kestrove::testing
