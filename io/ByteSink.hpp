#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <system_error>

namespace orv {

// Where the bytes of a file go: a safe write to a path (SafeFile), a string, a stream or a
// caller's function. Writers of files take one of these and never know which.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Appends all size bytes; false (and nothing more is taken) after any failure.
    virtual bool write(const void* data, std::size_t size) = 0;
    // The first failure; no error while every byte was taken.
    virtual std::error_code error() const = 0;

    bool write(std::span<const std::uint8_t> bytes) { return write(bytes.data(), bytes.size()); }
    bool ok() const { return !error(); }
};

// Bytes kept in memory.
class StringSink : public ByteSink {
public:
    bool write(const void* data, std::size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    std::error_code error() const override { return {}; }

    std::string bytes;
};

// Bytes handed to a function, which returns false to refuse them (and with them the rest).
class CallbackSink : public ByteSink {
public:
    using Take = std::function<bool(const void* data, std::size_t size)>;
    explicit CallbackSink(Take take) : take_(std::move(take)) {}
    bool write(const void* data, std::size_t size) override {
        if (error_) return false;
        if (!take_(data, size)) error_ = std::make_error_code(std::errc::operation_canceled);
        return !error_;
    }
    std::error_code error() const override { return error_; }

private:
    Take take_;
    std::error_code error_;
};

// Bytes written to a stream; a stream that fails fails the sink with an input/output error.
class StreamSink : public ByteSink {
public:
    explicit StreamSink(std::ostream& out) : out_(out) {}
    bool write(const void* data, std::size_t size) override {
        if (error_) return false;
        if (!out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)))
            error_ = std::make_error_code(std::errc::io_error);
        return !error_;
    }
    std::error_code error() const override { return error_; }

private:
    std::ostream& out_;
    std::error_code error_;
};

}  // namespace orv
