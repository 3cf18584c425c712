// replaced by the Win32 shell
