#include "updater/win32/win32_serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace qz {
namespace {

std::string systemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length && text ? std::string(text, length) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "system error";
    return message + " (error " + std::to_string(error) + ")";
}

PortErrorKind kindOfOpenError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST: return PortErrorKind::noSuchDevice;
    // A COM port is opened exclusively: another holder shows as access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return PortErrorKind::inUse;
    default: return PortErrorKind::io;
    }
}

BYTE parityOf(Parity parity) {
    switch (parity) {
    case Parity::even: return EVENPARITY;
    case Parity::odd: return ODDPARITY;
    case Parity::mark: return MARKPARITY;
    case Parity::space: return SPACEPARITY;
    default: return NOPARITY;
    }
}

BYTE stopBitsOf(StopBits stopBits) {
    switch (stopBits) {
    case StopBits::onePointFive: return ONE5STOPBITS;
    case StopBits::two: return TWOSTOPBITS;
    default: return ONESTOPBIT;
    }
}

bool usesRtsCts(Handshaking handshaking) {
    return handshaking == Handshaking::rtsCts || handshaking == Handshaking::rtsCtsAndXonXoff;
}

bool usesXonXoff(Handshaking handshaking) {
    return handshaking == Handshaking::xonXoff || handshaking == Handshaking::rtsCtsAndXonXoff;
}

constexpr DWORD kWriteMarginMs = 2000;
constexpr auto kCloseMargin = std::chrono::milliseconds(100);
constexpr auto kCloseLimit = std::chrono::milliseconds(2000);
// After the driver's queue is empty a UART may still hold a FIFO of bytes; changing the line
// settings under them garbles them. The close waits that long after the last write, and a
// little more, unless the other end has answered since.
constexpr std::uint32_t kTransmitterFifo = 16;
constexpr auto kTailMargin = std::chrono::milliseconds(20);

} // namespace

Win32SerialPort::~Win32SerialPort() { close(); }

PortStatus Win32SerialPort::failure(PortErrorKind kind, const char* operation, DWORD error) const {
    return PortStatus::failure(kind, portErrorMessage(device_, operation, systemMessage(error)));
}

PortStatus Win32SerialPort::notOpen(const char* operation) const {
    return PortStatus::failure(PortErrorKind::notOpen, portErrorMessage(device_, operation, "not open"));
}

PortStatus Win32SerialPort::open(const std::string& device, const LineSettings& line, const PortOptions& options) {
    if (isOpen()) {
        return PortStatus::failure(PortErrorKind::inUse,
                                   portErrorMessage(device, "open", "this port object is already open on " + device_));
    }
    device_ = device;
    win32::UniqueFile handle(
        CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle) {
        const DWORD error = GetLastError();
        return failure(kindOfOpenError(error), "open", error);
    }
    saved_.DCBlength = sizeof saved_;
    if (!GetCommState(handle.get(), &saved_)) {
        const DWORD error = GetLastError();
        return PortStatus::failure(PortErrorKind::notSerialDevice,
                                   portErrorMessage(device, "open", "not a serial device: " + systemMessage(error)));
    }
    GetCommTimeouts(handle.get(), &savedTimeouts_);
    handle_ = std::move(handle);
    dtr_ = options.dtr;
    rts_ = options.rts;
    inputBufferSize_ = options.inputBufferSize;
    readTimeoutSet_ = -1;
    // Buffer sizes are a request the driver may round or ignore.
    SetupComm(handle_.get(), static_cast<DWORD>(options.inputBufferSize), static_cast<DWORD>(options.outputBufferSize));
    PortStatus status = applyLine(line, options.handshaking);
    if (status.ok() && !setReadTimeout(0)) status = failure(PortErrorKind::io, "set time-outs", GetLastError());
    if (!status.ok()) {
        SetCommState(handle_.get(), &saved_);
        handle_.reset();
        return status;
    }
    PurgeComm(handle_.get(), PURGE_RXCLEAR | PURGE_RXABORT);
    readError_ = PortStatus{};
    return PortStatus{};
}

PortStatus Win32SerialPort::applyLine(const LineSettings& line, Handshaking handshaking) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_.get(), &dcb)) return failure(PortErrorKind::io, "set line", GetLastError());
    dcb.BaudRate = line.baud;
    dcb.fBinary = TRUE;
    dcb.fParity = line.parity != Parity::none;
    dcb.Parity = parityOf(line.parity);
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.StopBits = stopBitsOf(line.stopBits);
    dcb.fOutxCtsFlow = usesRtsCts(handshaking);
    dcb.fRtsControl = usesRtsCts(handshaking) ? RTS_CONTROL_HANDSHAKE : rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fOutX = usesXonXoff(handshaking);
    dcb.fInX = usesXonXoff(handshaking);
    dcb.fTXContinueOnXoff = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = static_cast<WORD>(std::min<std::size_t>(inputBufferSize_ / 4, 0xFFFF));
    dcb.XoffLim = static_cast<WORD>(std::min<std::size_t>(inputBufferSize_ / 4, 0xFFFF));
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle_.get(), &dcb)) return failure(PortErrorKind::badSettings, "set line", GetLastError());
    line_ = line;
    handshaking_ = handshaking;
    readTimeoutSet_ = -1; // the write time-out depends on the speed
    return PortStatus{};
}

// A read without wait returns at once with what is there (MAXDWORD interval, no total). A read
// that waits asks for one byte with a total timeout, so it ends with the first byte to arrive:
// the MAXDWORD interval-and-multiplier form that promises the same is not honoured by every
// implementation of the API (Wine waits out the whole timeout). Writes may take the time their
// bytes need on the line plus a margin.
bool Win32SerialPort::setReadTimeout(int timeoutMs) {
    if (readTimeoutSet_ == timeoutMs) return true;
    COMMTIMEOUTS timeouts{};
    if (timeoutMs > 0) {
        timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
    } else {
        timeouts.ReadIntervalTimeout = MAXDWORD;
    }
    timeouts.WriteTotalTimeoutMultiplier = characterTimeMicros(line_) / 1000 + 1;
    timeouts.WriteTotalTimeoutConstant = kWriteMarginMs;
    if (!SetCommTimeouts(handle_.get(), &timeouts)) return false;
    readTimeoutSet_ = timeoutMs;
    return true;
}

// Gives queued output the time its bytes take on the line, then drops what is left: the close
// never hangs on flow control.
void Win32SerialPort::drainForClose() noexcept {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_.get(), &errors, &status) || status.cbOutQue == 0) return;
    const auto lineTime = std::chrono::microseconds(std::uint64_t{status.cbOutQue} * characterTimeMicros(line_));
    const auto limit = std::min<std::chrono::steady_clock::duration>(lineTime + kCloseMargin, kCloseLimit);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!ClearCommError(handle_.get(), &errors, &status) || status.cbOutQue == 0) return;
        Sleep(2);
    }
}

void Win32SerialPort::waitForLastWrite() const noexcept {
    const auto tail = std::chrono::microseconds(std::uint64_t{kTransmitterFifo} * characterTimeMicros(line_));
    const auto until = lastWriteOnLine_ + tail + kTailMargin;
    const auto now = std::chrono::steady_clock::now();
    if (until <= now) return;
    const auto wait = std::min<std::chrono::steady_clock::duration>(until - now, kCloseLimit);
    Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
}

void Win32SerialPort::close() noexcept {
    if (!isOpen()) return;
    drainForClose();
    waitForLastWrite();
    // Output the drain gave up on is dropped, so that closing does not wait for it. Output
    // already handed over is left alone: under Wine on a pty, clearing it also discards what
    // the other end has not read yet (the wake-up command sent right before a close).
    DWORD errors = 0;
    COMSTAT status{};
    const bool pending = ClearCommError(handle_.get(), &errors, &status) && status.cbOutQue > 0;
    PurgeComm(handle_.get(), PURGE_RXABORT | PURGE_RXCLEAR | (pending ? PURGE_TXABORT | PURGE_TXCLEAR : 0));
    SetCommState(handle_.get(), &saved_);
    SetCommTimeouts(handle_.get(), &savedTimeouts_);
    handle_.reset();
}

PortStatus Win32SerialPort::reconfigure(const LineSettings& line) {
    if (!isOpen()) return notOpen("set line");
    // Output still queued, and the last bytes in the transmitter, leave at the old settings.
    drainForClose();
    waitForLastWrite();
    const LineSettings before = line_;
    PortStatus status = applyLine(line, handshaking_);
    if (!status.ok()) (void)applyLine(before, handshaking_);
    return status;
}

PortStatus Win32SerialPort::setHandshaking(Handshaking handshaking) {
    if (!isOpen()) return notOpen("set handshaking");
    return applyLine(line_, handshaking);
}

PortStatus Win32SerialPort::setModemLine(bool raised, DWORD raise, DWORD lower, bool& state, const char* operation) {
    if (!isOpen()) return notOpen(operation);
    if (!EscapeCommFunction(handle_.get(), raised ? raise : lower))
        return failure(PortErrorKind::io, operation, GetLastError());
    state = raised;
    return PortStatus{};
}

PortStatus Win32SerialPort::setDtr(bool raised) { return setModemLine(raised, SETDTR, CLRDTR, dtr_, "set DTR"); }

PortStatus Win32SerialPort::setRts(bool raised) { return setModemLine(raised, SETRTS, CLRRTS, rts_, "set RTS"); }

PortStatus Win32SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!isOpen()) return notOpen("write");
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(handle_.get(), bytes.data() + done, chunk, &written, nullptr))
            return failure(PortErrorKind::io, "write", GetLastError());
        if (written == 0)
            return PortStatus::failure(PortErrorKind::timedOut,
                                       portErrorMessage(device_, "write", "output held too long"));
        done += written;
    }
    lastWriteOnLine_ = std::chrono::steady_clock::now() +
                       std::chrono::microseconds(std::uint64_t{bytes.size()} * characterTimeMicros(line_));
    return PortStatus{};
}

ReadResult Win32SerialPort::read(std::span<std::uint8_t> buffer, int timeoutMs) {
    if (!isOpen()) {
        readError_ = notOpen("read");
        return {ReadStatus::error, 0};
    }
    if (!setReadTimeout(std::max(timeoutMs, 0))) {
        readError_ = failure(PortErrorKind::io, "set time-outs", GetLastError());
        return {ReadStatus::error, 0};
    }
    DWORD got = 0;
    const auto wanted = timeoutMs > 0 ? DWORD{1} : static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 20));
    if (!ReadFile(handle_.get(), buffer.data(), wanted, &got, nullptr)) {
        readError_ = failure(PortErrorKind::io, "read", GetLastError());
        return {ReadStatus::error, 0};
    }
    if (got == 0) return {ReadStatus::timedOut, 0};
    // An answer that comes after our output has had its time on the line: the other end has
    // it, and a close need not wait for it.
    if (std::chrono::steady_clock::now() >= lastWriteOnLine_) lastWriteOnLine_ = {};
    return {ReadStatus::data, got};
}

PortStatus Win32SerialPort::discardInput() {
    if (!isOpen()) return notOpen("discard input");
    if (!PurgeComm(handle_.get(), PURGE_RXCLEAR)) return failure(PortErrorKind::io, "discard input", GetLastError());
    return PortStatus{};
}

std::vector<std::string> listWin32SerialPorts() {
    std::vector<std::string> ports;
    win32::UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, key.out()) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        char data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataLength] = '\0';
        std::string port(data);
        while (!port.empty() && port.back() == '\0') port.pop_back();
        if (!port.empty()) ports.push_back(port);
    }
    const auto number = [](const std::string& port) { return port.size() > 3 ? std::atoi(port.c_str() + 3) : 0; };
    std::sort(ports.begin(), ports.end(), [&](const std::string& a, const std::string& b) {
        return number(a) != number(b) ? number(a) < number(b) : a < b;
    });
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

} // namespace qz
