#pragma once

#include <QByteArrayView>
#include <QString>

#include <bitset>
#include <optional>
#include <string>

/// What the next value of a JSON text is, judged by its first byte; Invalid when no value can start there.
enum class JsonKind { Object, Array, String, Number, Boolean, Null, Invalid };

/// A strict, single-pass cursor over one JSON text in UTF-8, for decoders that fill their records
/// directly. The caller walks the value tree: each key or element handed out must be followed by
/// exactly one value that is read or skipped. Any fault in the text, or a call out of turn, puts the
/// reader in a failed state that no later call leaves, so a decoder may check once, with finish().
/// Faults: anything outside the JSON grammar, invalid UTF-8 (also inside skipped values), control
/// characters in strings, unknown escapes, a \u escape of a surrogate that is not half of a pair
/// (it names no character, so no Unicode text could hold it), and nesting beyond kMaxDepth. A single
/// leading byte order mark is ignored. Allocates only for the texts it hands out and for one buffer,
/// reused, that holds strings with escapes. One reader per thread; readers are independent.
class JsonReader {
public:
    /// The deepest nesting of objects and arrays accepted; the outermost value counts as one.
    static constexpr int kMaxDepth = 1024;

    /// Reads `utf8`, which must outlive the reader.
    explicit JsonReader(QByteArrayView utf8);

    /// The kind of the next value, after any whitespace; Invalid once the reader has failed.
    JsonKind peek();

    /// Enters the object that comes next; false (and failed) when the next value is not an object.
    bool beginObject();
    /// Moves to the next member of the innermost object: true with its key, unescaped, valid until
    /// the next call on the reader; false when the object has ended (its closing brace consumed) or
    /// on a fault.
    bool nextKey(QByteArrayView& key);

    /// Enters the array that comes next; false (and failed) when the next value is not an array.
    bool beginArray();
    /// Moves to the next element of the innermost array: true when one follows, false when the array
    /// has ended (its closing bracket consumed) or on a fault.
    bool nextElement();

    /// Reads the string that comes next into `out`; false (and failed) when it is not a valid string.
    bool readString(QString& out);
    /// Reads the string that comes next as unescaped UTF-8, valid until the next call on the reader;
    /// false (and failed) when it is not a valid string.
    bool readUtf8(QByteArrayView& out);

    /// Reads the number that comes next: its value when it is a whole number within signed 64 bits,
    /// judged on its exact decimal value (2.0 and 1e2 are whole, 2.5 and 1.0000000000000001 are not);
    /// empty otherwise, and failed too when it is not a number by the JSON grammar.
    std::optional<qint64> readInteger();

    /// Consumes the next value, whatever it is and however deeply nested, checking it as strictly
    /// as the rest; false on a fault.
    bool skipValue();

    /// True when the text held exactly one value, now fully read, followed only by whitespace.
    bool finish();

    /// True once any fault was found.
    bool failed() const { return m_failed; }

private:
    bool fail();
    bool takeValueTurn();
    void skipWhitespace();
    bool open(bool isObject);
    void close();
    /// Steps past the comma before the next member of the open container, or closes it at `closer`.
    bool nextMember(bool inObject, char closer);
    bool scanString(bool keep, QByteArrayView& text);
    bool scanEscape(bool keep);
    bool scanUtf8Sequence();
    bool scanNumber(std::optional<qint64>* value);
    bool scanLiteral(QByteArrayView word);

    const char* m_pos;
    const char* m_end;
    std::string m_unescaped;            // a string's text when it held escapes, reused between strings
    std::bitset<kMaxDepth> m_isObject;  // per open container, innermost at m_depth - 1
    int m_depth = 0;
    bool m_valueDue = true;  // a value must come next: the top-level one, or one after a key or comma
    bool m_first = false;    // the innermost container has no member or element yet
    bool m_failed = false;
};
