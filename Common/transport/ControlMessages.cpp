#include "Common/transport/ControlMessages.h"

#include <array>
#include <cerrno>
#include <random>
#include <sys/random.h>

namespace gemvolt::transport {

namespace {

void putU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void putU32(std::string& out, std::uint32_t v) {
    char bytes[4];
    transport::putU32(bytes, v);
    out.append(bytes, 4);
}

void putString(std::string& out, std::string_view text) {
    putU32(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

// A bounds-checked cursor: every read checks what is left first, so nothing
// past the body is ever touched; a failed read leaves the cursor failed.
class BodyCursor {
public:
    explicit BodyCursor(std::string_view body) : m_body(body) {}

    bool u8(std::uint8_t& v) {
        if (!need(1)) {
            return false;
        }
        v = static_cast<std::uint8_t>(m_body[m_pos]);
        m_pos += 1;
        return true;
    }
    bool u16(std::uint16_t& v) {
        if (!need(2)) {
            return false;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(m_body.data() + m_pos);
        v = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
        m_pos += 2;
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (!need(4)) {
            return false;
        }
        v = getU32(m_body.data() + m_pos);
        m_pos += 4;
        return true;
    }
    bool string(std::string& v) {
        std::uint32_t size = 0;
        if (!u32(size) || !need(size)) {
            return false;
        }
        v.assign(m_body.data() + m_pos, size);
        m_pos += size;
        return true;
    }
    bool atEnd() const { return m_pos == m_body.size(); }

private:
    bool need(std::size_t count) const { return count <= m_body.size() - m_pos; }

    std::string_view m_body;
    std::size_t m_pos = 0;
};

} // namespace

std::string encodeHello(const Hello& hello) {
    std::string out;
    out.reserve(2 + 8 + hello.applicationId.size() + hello.playerName.size());
    putU16(out, hello.version);
    putString(out, hello.applicationId);
    putString(out, hello.playerName);
    if (hello.version != ProtocolVersion) {
        putString(out, hello.resumeToken);
        putU32(out, hello.receivedCount);
    }
    return out;
}

std::string encodeWelcome(const Welcome& welcome) {
    std::string out;
    putU32(out, static_cast<std::uint32_t>(welcome.playerId));
    putString(out, welcome.sessionName);
    if (welcome.version != ProtocolVersion) {
        putString(out, welcome.resumeToken);
        putU32(out, welcome.receivedCount);
    }
    return out;
}

std::string encodeRefuse(const Refuse& refuse) {
    std::string out;
    out.push_back(static_cast<char>(refuse.reason));
    putString(out, refuse.text);
    return out;
}

std::string encodeToken(std::uint32_t token) {
    std::string out;
    putU32(out, token);
    return out;
}

bool decodeHello(std::string_view body, Hello& hello) {
    BodyCursor in(body);
    Hello h;
    if (!in.u16(h.version) || !in.string(h.applicationId) || !in.string(h.playerName)) {
        return false;
    }
    // Every version after the first carries the resume fields.
    if (h.version != ProtocolVersion && (!in.string(h.resumeToken) || !in.u32(h.receivedCount))) {
        return false;
    }
    if (!in.atEnd()) {
        return false;
    }
    hello = std::move(h);
    return true;
}

bool decodeWelcome(std::string_view body, Welcome& welcome, std::uint16_t version) {
    BodyCursor in(body);
    std::uint32_t id = 0;
    Welcome w;
    w.version = version;
    if (!in.u32(id) || !in.string(w.sessionName)) {
        return false;
    }
    if (version != ProtocolVersion && (!in.string(w.resumeToken) || !in.u32(w.receivedCount))) {
        return false;
    }
    if (!in.atEnd()) {
        return false;
    }
    w.playerId = static_cast<std::int32_t>(id);
    welcome = std::move(w);
    return true;
}

bool decodeRefuse(std::string_view body, Refuse& refuse) {
    BodyCursor in(body);
    Refuse r;
    if (!in.u8(r.reason) || !in.string(r.text) || !in.atEnd()) {
        return false;
    }
    refuse = std::move(r);
    return true;
}

bool decodeToken(std::string_view body, std::uint32_t& token) {
    BodyCursor in(body);
    std::uint32_t t = 0;
    if (!in.u32(t) || !in.atEnd()) {
        return false;
    }
    token = t;
    return true;
}

bool peekHelloVersion(std::string_view body, std::uint16_t& version) {
    BodyCursor in(body);
    return in.u16(version);
}

bool isValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        std::uint32_t min = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            return false;
        }
        if (extra > n - i - 1) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool isValidPlayerName(std::string_view name) {
    return name.size() <= MaxPlayerNameBytes && isValidUtf8(name);
}

std::string registeredPlayerName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const auto next = [&](std::size_t k) {
            return i + k < name.size() ? static_cast<unsigned char>(name[i + k]) : 0;
        };
        std::size_t replaced = 0;
        if (byte < 0x20 || byte == 0x7F) {
            replaced = 1;
        } else if (byte == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
            replaced = 2; // U+0080 to U+009F, NEL among them
        } else if (byte == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
            replaced = 3; // U+2028, U+2029
        }
        if (replaced > 0) {
            out += '?';
            i += replaced;
        } else {
            out += name[i];
            ++i;
        }
    }
    return out;
}

bool isWellFormedResumeToken(std::string_view token) {
    if (token.size() != ResumeTokenLength) {
        return false;
    }
    for (char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool sameResumeToken(std::string_view a, std::string_view b) {
    // The length of a token is no secret (it is fixed); its digits are: every
    // byte is looked at, so the time taken does not tell how many matched.
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

std::string newResumeToken() {
    std::array<unsigned char, ResumeTokenLength / 2> bits{};
    std::size_t got = 0;
    while (got < bits.size()) {
        const ssize_t n = ::getrandom(bits.data() + got, bits.size() - got, 0);
        if (n > 0) {
            got += std::size_t(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (got < bits.size()) {
        // A kernel without getrandom: the library's device reads the same source.
        std::random_device device;
        for (std::size_t i = got; i < bits.size(); ++i) {
            bits[i] = static_cast<unsigned char>(device());
        }
    }
    static constexpr char Digits[] = "0123456789abcdef";
    std::string token;
    token.reserve(ResumeTokenLength);
    for (unsigned char byte : bits) {
        token += Digits[byte >> 4];
        token += Digits[byte & 0x0F];
    }
    return token;
}

} // namespace gemvolt::transport
