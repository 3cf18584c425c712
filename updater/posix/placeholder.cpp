// replaced by the termios transport
