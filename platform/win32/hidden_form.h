// Form1's window: a hidden top-level window that carries the program's icon and owns the
// shell's progress and error windows. It is never shown.
#pragma once

#include <windows.h>

namespace pellatrix::win32 {

class HiddenForm {
  public:
    // Creates the window; the icon is the icon group with resource id 1 of `instance`.
    explicit HiddenForm(HINSTANCE instance);
    ~HiddenForm();
    HiddenForm(const HiddenForm&) = delete;
    HiddenForm& operator=(const HiddenForm&) = delete;

    HWND handle() const { return window_; }
    // Destroys the window now (also done by the destructor).
    void destroy();

  private:
    HINSTANCE instance_;
    ATOM windowClass_ = 0;
    HWND window_ = nullptr;
};

} // namespace pellatrix::win32
