#include "simnet/codec.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

namespace simnet {

namespace {

void putWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint32_t getWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Appends fields in wire order; the first failure sticks and later fields
// are skipped. Never grows the output past `limit`.
class Writer {
public:
    Writer(std::vector<std::uint8_t>& out, std::size_t limit) : out_(out), limit_(limit) {}

    template <class... T>
    void operator()(const T&... fields) {
        (put(fields), ...);
    }

    void word(std::uint32_t value) {
        if (room(4)) putWord(out_, value);
    }

    CodecError error() const { return error_; }

private:
    bool room(std::size_t n) {
        if (error_ != CodecError::None) return false;
        if (n > limit_ - std::min(limit_, out_.size())) {
            error_ = CodecError::Oversized;
            return false;
        }
        return true;
    }

    void append(const std::uint8_t* data, std::size_t n) {
        if (room(n)) out_.insert(out_.end(), data, data + n);
    }

    void put(std::uint32_t value) { word(value); }

    void put(float value) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        word(bits);
    }

    void put(const std::string& text) { putText(text, kStringFieldSize); }
    void put(const PathText& path) { putText(path.text, kPathFieldSize); }

    void putText(const std::string& text, std::size_t field) {
        if (error_ == CodecError::None && text.size() >= field) {
            error_ = CodecError::StringTooLong;
        }
        if (!room(field)) return;
        out_.insert(out_.end(), text.begin(), text.end());
        out_.insert(out_.end(), field - text.size(), 0);
    }

    void put(const Tag& tag) { append(tag.data(), tag.size()); }

    void put(const CountedBytes& data) {
        if (!room(4 + data.bytes.size())) return;
        word(static_cast<std::uint32_t>(data.bytes.size()));
        append(data.bytes.data(), data.bytes.size());
    }

    void put(const TrailingBytes& data) { append(data.bytes.data(), data.bytes.size()); }

    std::vector<std::uint8_t>& out_;
    std::size_t limit_;
    CodecError error_ = CodecError::None;
};

// Takes fields in wire order from a bounded byte range; running out of
// bytes is a SizeMismatch. The first failure sticks.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <class... T>
    void operator()(T&... fields) {
        (get(fields), ...);
    }

    bool atEnd() const { return pos_ == size_; }
    CodecError error() const { return error_; }

private:
    const std::uint8_t* take(std::size_t n) {
        if (error_ != CodecError::None) return nullptr;
        if (n > size_ - pos_) {
            error_ = CodecError::SizeMismatch;
            return nullptr;
        }
        const std::uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }

    void get(std::uint32_t& value) {
        if (const std::uint8_t* p = take(4)) value = getWord(p);
    }

    void get(float& value) {
        std::uint32_t bits = 0;
        get(bits);
        std::memcpy(&value, &bits, sizeof value);
    }

    void get(std::string& text) { getText(text, kStringFieldSize); }
    void get(PathText& path) { getText(path.text, kPathFieldSize); }

    void getText(std::string& text, std::size_t field) {
        const std::uint8_t* p = take(field);
        if (!p) return;
        const std::uint8_t* end = p + field;
        const std::uint8_t* nul = std::find(p, end, 0);
        if (nul == end || std::any_of(nul, end, [](std::uint8_t b) { return b != 0; })) {
            error_ = CodecError::BadString;
            return;
        }
        text.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(nul - p));
    }

    void get(Tag& tag) {
        if (const std::uint8_t* p = take(tag.size())) std::copy_n(p, tag.size(), tag.begin());
    }

    void get(CountedBytes& data) {
        std::uint32_t count = 0;
        get(count);
        if (const std::uint8_t* p = take(count)) data.bytes.assign(p, p + count);
    }

    void get(TrailingBytes& data) {
        const std::size_t rest = size_ - pos_;
        if (const std::uint8_t* p = take(rest)) data.bytes.assign(p, p + rest);
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    CodecError error_ = CodecError::None;
};

// The frame checks shared by both directions: the size word must lie in
// [header, limit] and equal the number of bytes given.
CodecError checkFrame(const std::uint8_t* data, std::size_t size, std::size_t header,
                      std::size_t limit) {
    if (size < 4) return CodecError::Truncated;
    const std::uint32_t declared = readSizeWord(data);
    if (declared < header) return CodecError::Undersized;
    if (declared > limit) return CodecError::Oversized;
    if (declared > size) return CodecError::Truncated;
    if (declared < size) return CodecError::SizeMismatch;
    return CodecError::None;
}

// Reads a body of type T that must fill the reader exactly.
template <class T, class Variant>
CodecError readBody(Reader& reader, Variant& out) {
    T body;
    T::fields(body, reader);
    if (reader.error() != CodecError::None) return reader.error();
    if (!reader.atEnd()) return CodecError::SizeMismatch;
    out = std::move(body);
    return CodecError::None;
}

// Finds the alternative among the first N of Variant whose kId is `id`.
template <class Variant, std::size_t N, std::size_t I = 0>
CodecError readById(std::uint32_t id, Reader& reader, Variant& out, bool& known) {
    if constexpr (I == N) {
        known = false;
        return CodecError::None;
    } else {
        using T = std::variant_alternative_t<I, Variant>;
        if (static_cast<std::uint32_t>(T::kId) != id) {
            return readById<Variant, N, I + 1>(id, reader, out, known);
        }
        known = true;
        return readBody<T>(reader, out);
    }
}

CodecError finishEncoding(const Writer& writer, std::vector<std::uint8_t>& out) {
    if (writer.error() != CodecError::None) return writer.error();
    const std::uint32_t size = static_cast<std::uint32_t>(out.size());
    std::vector<std::uint8_t> word;
    putWord(word, size);
    std::copy(word.begin(), word.end(), out.begin());
    return CodecError::None;
}

CodecError encodeCallAs(std::uint32_t version, std::uint32_t sendId, const Call& call,
                        std::vector<std::uint8_t>& out) {
    out.clear();
    Writer writer(out, kMaxClientMessageSize);
    writer.word(0);  // size, filled in last
    writer.word(version);
    writer.word(kCallTypePrefix | static_cast<std::uint32_t>(callId(call)));
    writer.word(sendId);
    std::visit([&](const auto& c) { std::decay_t<decltype(c)>::fields(c, writer); }, call);
    return finishEncoding(writer, out);
}

}  // namespace

CallId callId(const Call& call) {
    return std::visit([](const auto& c) { return std::decay_t<decltype(c)>::kId; }, call);
}

const char* callName(const Call& call) {
    return std::visit([](const auto& c) { return std::decay_t<decltype(c)>::kName; }, call);
}

const char* describe(CodecError error) {
    switch (error) {
        case CodecError::None:
            return "no error";
        case CodecError::Truncated:
            return "message shorter than its size word";
        case CodecError::Undersized:
            return "size word below the header size";
        case CodecError::Oversized:
            return "message above the size bound";
        case CodecError::SizeMismatch:
            return "size does not fit the message's layout";
        case CodecError::NotACall:
            return "type word is not a call";
        case CodecError::UnknownCall:
            return "unknown call id";
        case CodecError::BadString:
            return "string field not NUL-terminated and zero-padded";
        case CodecError::StringTooLong:
            return "text too long for its field";
    }
    return "unknown error";
}

std::uint32_t readSizeWord(const std::uint8_t* data) {
    return getWord(data);
}

CodecError decodeClientMessage(const std::uint8_t* data, std::size_t size, ClientMessage& out) {
    if (CodecError e = checkFrame(data, size, kClientHeaderSize, kMaxClientMessageSize);
        e != CodecError::None) {
        return e;
    }
    out.version = getWord(data + 4);
    const std::uint32_t type = getWord(data + 8);
    out.sendId = getWord(data + 12);
    if ((type & kCallTypePrefixMask) != kCallTypePrefix) return CodecError::NotACall;
    Reader reader(data + kClientHeaderSize, size - kClientHeaderSize);
    bool known = false;
    const CodecError e = readById<Call, std::variant_size_v<Call>>(type & ~kCallTypePrefixMask,
                                                                   reader, out.call, known);
    return known ? e : CodecError::UnknownCall;
}

CodecError decodeServerMessage(const std::uint8_t* data, std::size_t size, ServerMessage& out) {
    if (CodecError e = checkFrame(data, size, kServerHeaderSize, kMaxServerMessageSize);
        e != CodecError::None) {
        return e;
    }
    out.version = getWord(data + 4);
    const std::uint32_t id = getWord(data + 8);
    Reader reader(data + kServerHeaderSize, size - kServerHeaderSize);
    bool known = false;
    // Every alternative but the last (RecvRaw) has a fixed id.
    const CodecError e = readById<Recv, std::variant_size_v<Recv> - 1>(id, reader, out.body, known);
    if (known) return e;
    out.body = RecvRaw{
        id, TrailingBytes{std::vector<std::uint8_t>(data + kServerHeaderSize, data + size)}};
    return CodecError::None;
}

CodecError encodeClientMessage(const ClientMessage& message, std::vector<std::uint8_t>& out) {
    return encodeCallAs(message.version, message.sendId, message.call, out);
}

CodecError encodeCall(std::uint32_t sendId, const Call& call, std::vector<std::uint8_t>& out) {
    return encodeCallAs(kProtocolVersion, sendId, call, out);
}

CodecError encodeServerMessage(const ServerMessage& message, std::vector<std::uint8_t>& out) {
    out.clear();
    Writer writer(out, kMaxServerMessageSize);
    writer.word(0);  // size, filled in last
    writer.word(message.version);
    std::visit(
        [&](const auto& body) {
            using T = std::decay_t<decltype(body)>;
            if constexpr (std::is_same_v<T, RecvRaw>) {
                writer.word(body.id);
                writer(body.body);
            } else {
                writer.word(static_cast<std::uint32_t>(T::kId));
                T::fields(body, writer);
            }
        },
        message.body);
    return finishEncoding(writer, out);
}

}  // namespace simnet
