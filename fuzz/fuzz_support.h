#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared by the fuzz targets: reading structured input and stopping on a broken invariant
// (an abort, so that libFuzzer keeps the input as a crash).

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Consumes the fuzzer's bytes front to back; reads past the end give zeros and empty strings.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_at >= m_size; }
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    // Up to maxLength bytes, the length taken from the next byte.
    QByteArray bytes(size_t maxLength) {
        const size_t wanted = byte() % (maxLength + 1);
        const size_t n = wanted < m_size - std::min(m_at, m_size) ? wanted : m_size - m_at;
        QByteArray out(reinterpret_cast<const char*>(m_data + m_at), static_cast<qsizetype>(n));
        m_at += n;
        return out;
    }
    QString text(size_t maxLength) { return QString::fromUtf8(bytes(maxLength)); }
    QByteArray rest() {
        QByteArray out(reinterpret_cast<const char*>(m_data + m_at),
                       static_cast<qsizetype>(m_size - std::min(m_at, m_size)));
        m_at = m_size;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};
