// The hidden form's window class and window.
#include "hidden_form.h"

#include "win32_error.h"

namespace pellatrix::win32 {
namespace {

constexpr wchar_t kClassName[] = L"Pellatrix.Form1";
constexpr wchar_t kCaption[] = L"Pellatrix";
constexpr int kIconResource = 1;

} // namespace

HiddenForm::HiddenForm(HINSTANCE instance) : instance_(instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.lpszClassName = kClassName;
    windowClass_ = RegisterClassExW(&windowClass);
    if (windowClass_ == 0)
        throwLastError("register the window class", u"Pellatrix.Form1");

    // Created without WS_VISIBLE and never shown.
    window_ =
        CreateWindowExW(0, kClassName, kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window_ == nullptr) {
        const DWORD error = GetLastError();
        UnregisterClassW(kClassName, instance_);
        SetLastError(error);
        throwLastError("create the window", u"Pellatrix.Form1");
    }
}

HiddenForm::~HiddenForm() {
    destroy();
    UnregisterClassW(kClassName, instance_);
}

void HiddenForm::destroy() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

} // namespace pellatrix::win32
