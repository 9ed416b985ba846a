// A drag source as Explorer is one: a small window that, when the left button is pressed on it,
// starts an OLE drag (DoDragDrop) carrying its files as a CF_HDROP list. The smoke run of the
// real program presses the button here and lets it go over a drop target, through the window
// system, so the drop travels the same way as one from Explorer.
//
//   kestrove_drag_source X Y FILE...
//
// The window (100 x 100) is placed at X, Y on the screen. Prints "drop: <effect>" when a target
// took the files, "no drop" otherwise, and ends; exit code 0 only after a drop. A drag that is not
// finished within 30 seconds is cancelled, so a run can never hang.
#include <windows.h>

#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDragLimitMs = 30000;

// The HGLOBAL a CF_HDROP carries: a DROPFILES header, then the wide paths, each ended by a NUL,
// and one more NUL after the last.
HGLOBAL MakeHdrop(const std::vector<std::wstring>& paths) {
    size_t chars = 1;
    for (const auto& path : paths) {
        chars += path.size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    if (memory == nullptr) {
        return nullptr;
    }
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
    for (const auto& path : paths) {
        std::wmemcpy(out, path.c_str(), path.size() + 1);
        out += path.size() + 1;
    }
    *out = L'\0';
    GlobalUnlock(memory);
    return memory;
}

bool IsHdrop(const FORMATETC* format) {
    return format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) != 0 &&
           format->dwAspect == DVASPECT_CONTENT;
}

// Only what a drop target asks of a file list: CF_HDROP in an HGLOBAL.
class FileListData final : public IDataObject {
  public:
    explicit FileListData(std::vector<std::wstring> paths) : m_paths(std::move(paths)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDataObject) {
            *object = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!IsHdrop(format)) {
            return DV_E_FORMATETC;
        }
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = MakeHdrop(m_paths);
        medium->pUnkForRelease = nullptr;
        return medium->hGlobal != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        return IsHdrop(format) ? S_OK : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (direction != DATADIR_GET) {
            return E_NOTIMPL;
        }
        FORMATETC hdrop = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &hdrop, out);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }

  private:
    std::vector<std::wstring> m_paths;
    ULONG m_refs = 1;
};

// Drops when the left button goes up, as every drag source does; gives up after the limit.
class ButtonDropSource final : public IDropSource {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDropSource) {
            *object = static_cast<IDropSource*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }

    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
        if (escape || GetTickCount() - m_started > kDragLimitMs) {
            return DRAGDROP_S_CANCEL;
        }
        return (keys & MK_LBUTTON) == 0 ? DRAGDROP_S_DROP : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

  private:
    DWORD m_started = GetTickCount();
    ULONG m_refs = 1;
};

std::vector<std::wstring> g_paths;
int g_exitCode = 1;

void RunDrag() {
    FileListData data(g_paths);
    ButtonDropSource source;
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT result =
        DoDragDrop(&data, &source, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK, &effect);
    if (result == DRAGDROP_S_DROP && effect != DROPEFFECT_NONE) {
        std::printf("drop: %lu\n", static_cast<unsigned long>(effect));
        g_exitCode = 0;
    } else {
        std::printf("no drop (0x%08lx)\n", static_cast<unsigned long>(result));
    }
    std::fflush(stdout);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_LBUTTONDOWN:
            RunDrag();
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: kestrove_drag_source X Y FILE...\n");
        return 2;
    }
    const int x = std::wcstol(argv[1], nullptr, 10);
    const int y = std::wcstol(argv[2], nullptr, 10);
    for (int index = 3; index < argc; ++index) {
        wchar_t full[MAX_PATH * 4];
        const DWORD length = GetFullPathNameW(argv[index], MAX_PATH * 4, full, nullptr);
        g_paths.emplace_back(length > 0 ? full : argv[index]);
    }
    if (FAILED(OleInitialize(nullptr))) {
        std::fprintf(stderr, "OleInitialize failed\n");
        return 1;
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_HIGHLIGHT + 1);
    windowClass.lpszClassName = L"KestroveDragSource";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"Kestrove drag source",
                                  WS_POPUP | WS_VISIBLE, x, y, 100, 100, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "CreateWindow failed\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    OleUninitialize();
    return g_exitCode;
}
