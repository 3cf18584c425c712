#pragma once
// The window-procedure glue the programs' windows share. A class T derives from Window<T>,
// registers its window class through registerClass and makes its window through createWindow:
// from the window's first own message (WM_NCCREATE) on, every message goes to
// T::handleMessage(message, wParam, lParam), which sends it to a small on... member or back to
// defaultHandling (DefWindowProc). The window's last message (WM_NCDESTROY) unbinds it, then
// calls T::onFinalMessage (a window that owns its object deletes it there).

#include <windows.h>

namespace qz::win32 {

template <typename T>
class Window {
public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The window, from WM_NCCREATE to WM_NCDESTROY; nullptr before and after.
    HWND hwnd() const noexcept { return hwnd_; }

protected:
    Window() = default;
    // An object that goes before its window leaves it to the default handling.
    ~Window() {
        if (hwnd_) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    }

    // Registers a window class whose windows run this glue; windowClass gives the rest (name,
    // instance, styles, icons, background) and the arrow cursor when it names none. A class
    // registered before counts as registered.
    static bool registerClass(WNDCLASSEXW windowClass) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Window::procedure;
        if (!windowClass.hCursor) windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }

    // CreateWindowExW for a class of registerClass, bound to this object. nullptr on failure.
    HWND createWindow(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y,
                      int width, int height, HWND parent, HMENU menu, HINSTANCE instance) {
        return CreateWindowExW(exStyle, className, text, style, x, y, width, height, parent, menu, instance,
                               static_cast<T*>(this));
    }

    LRESULT defaultHandling(UINT message, WPARAM wParam, LPARAM lParam) const {
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }

    // Called once the window is gone; nothing by default.
    void onFinalMessage() noexcept {}

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            T* created = static_cast<T*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
            if (created) static_cast<Window*>(created)->hwnd_ = window;
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        }
        T* self = reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self) return DefWindowProcW(window, message, wParam, lParam);
        const LRESULT result = self->handleMessage(message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            static_cast<Window*>(self)->hwnd_ = nullptr;
            self->onFinalMessage();
        }
        return result;
    }

    HWND hwnd_ = nullptr;
};

} // namespace qz::win32
