#include "updater/cli/json_result.h"

#include <cstdio>

namespace qz::cli {

namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

std::string_view modeName(XmodemMode mode) {
    switch (mode) {
    case XmodemMode::crc16: return "\"crc16\"";
    case XmodemMode::checksum: return "\"checksum\"";
    case XmodemMode::undecided: break;
    }
    return "null";
}

} // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8Length(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string jsonResult(const RunReport& report) {
    const XmodemProgress none{};
    const XmodemProgress& transfer = report.transfer ? *report.transfer : none;
    std::string json = "{";
    json += "\"outcome\":" + jsonString(outcomeName(report.outcome));
    json += ",\"exit_code\":" + std::to_string(exitCode(report.outcome));
    json += ",\"message\":" + jsonString(report.message);
    json += ",\"port\":" + jsonString(report.port);
    json += ",\"firmware\":" + jsonString(report.firmware);
    json += ",\"bytes\":" + std::to_string(transfer.bytesAcked);
    json += ",\"bytes_total\":" + std::to_string(report.bytesTotal);
    json += ",\"blocks\":" + std::to_string(transfer.blocksAcked);
    json += ",\"blocks_total\":" + std::to_string(report.blocksTotal);
    json += ",\"retries\":" + std::to_string(transfer.retries);
    json += ",\"seconds\":" + number(report.seconds);
    json += ",\"transfer_seconds\":" + (report.transferSeconds ? number(*report.transferSeconds) : "null");
    json += ",\"mode\":" + std::string(modeName(transfer.mode));
    json += ",\"transfer_status\":" +
            (report.transferStatus ? std::to_string(static_cast<int>(*report.transferStatus)) : std::string("null"));
    if (report.board) json += ",\"board\":" + std::to_string(*report.board);
    json += "}";
    return json;
}

} // namespace qz::cli
