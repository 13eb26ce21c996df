/* The C side of what a mingw runtime would link into the ARM64 test host, over msvcrt.dll: the
 * standard streams, the mingw printf family the libstdc++ headers select, strtoll, and the
 * thread-local storage directory. C, and without <stdio.h>, so that the names below are
 * msvcrt's own and not the headers' inline wrappers. */
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

/* msvcrt.dll's FILE, as its exported stream array lays it out. */
typedef struct _iobuf {
    char* ptr;
    int count;
    char* base;
    int flags;
    int file;
    int charBuffer;
    int bufferSize;
    char* temporaryName;
} FILE;

FILE* __iob_func(void);
size_t fwrite(const void* data, size_t size, size_t count, FILE* file);
void* malloc(size_t size);
void free(void* block);
long long _strtoi64(const char* text, char** end, int base);

/* stdin, stdout and stderr; the headers call it through an import pointer. */
FILE* __acrt_iob_func(unsigned index) {
    return __iob_func() + index;
}
FILE* (*__imp___acrt_iob_func)(unsigned) = __acrt_iob_func;

/* The printf family is formatted here, not by msvcrt.dll: Debian's ARM64 Wine builds msvcrt as
 * a Unix library whose va_list is the Unix one, so a Windows caller's va_list reaches it garbled.
 * The test host formats text, whole numbers, pointers and timings: flags '-' and '0', a width,
 * a precision for f, the lengths l, ll, z and the conversions s c d i u x X p f %. */
typedef struct {
    char* buffer;
    size_t size;
    size_t length;
} Output;

static void put(Output* out, char c) {
    if (out->length + 1 < out->size) out->buffer[out->length] = c;
    ++out->length;
}

static void putPadded(Output* out, const char* text, size_t length, int width, int left, char pad) {
    size_t fill = width > 0 && (size_t)width > length ? (size_t)width - length : 0;
    if (!left && pad == '0' && length > 0 && text[0] == '-') { /* sign before the zeros */
        put(out, '-');
        ++text;
        --length;
    }
    if (!left)
        while (fill-- > 0)
            put(out, pad);
    for (size_t i = 0; i < length; ++i)
        put(out, text[i]);
    if (left)
        while (fill-- > 0)
            put(out, ' ');
}

static size_t formatNumber(char* digits, unsigned long long value, unsigned base, int upper,
                           int negative) {
    char reversed[24];
    size_t n = 0;
    do {
        unsigned d = (unsigned)(value % base);
        reversed[n++] = (char)(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10);
        value /= base;
    } while (value != 0);
    size_t length = 0;
    if (negative) digits[length++] = '-';
    while (n > 0)
        digits[length++] = reversed[--n];
    return length;
}

static int formatText(char* buffer, size_t size, const char* format, va_list args) {
    Output out = {buffer, size, 0};
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            put(&out, *f);
            continue;
        }
        int left = 0, width = 0, precision = 6, longs = 0, sizeT = 0;
        char pad = ' ';
        for (++f; *f == '-' || *f == '0'; ++f) {
            if (*f == '-')
                left = 1;
            else
                pad = '0';
        }
        for (; *f >= '0' && *f <= '9'; ++f)
            width = width * 10 + (*f - '0');
        if (*f == '.')
            for (precision = 0, ++f; *f >= '0' && *f <= '9'; ++f)
                precision = precision * 10 + (*f - '0');
        for (; *f == 'l' || *f == 'z'; ++f) {
            if (*f == 'l')
                ++longs;
            else
                sizeT = 1;
        }
        char digits[24];
        switch (*f) {
        case 's': {
            const char* text = va_arg(args, const char*);
            if (text == NULL) text = "(null)";
            size_t length = 0;
            while (text[length] != '\0')
                ++length;
            putPadded(&out, text, length, width, left, ' ');
            break;
        }
        case 'c':
            digits[0] = (char)va_arg(args, int);
            putPadded(&out, digits, 1, width, left, ' ');
            break;
        case 'd':
        case 'i': {
            /* long is 32 bits on Windows. */
            long long value = longs >= 2 || sizeT ? va_arg(args, long long) : va_arg(args, int);
            unsigned long long magnitude =
                value < 0 ? 0ULL - (unsigned long long)value : (unsigned long long)value;
            putPadded(&out, digits, formatNumber(digits, magnitude, 10, 0, value < 0), width, left,
                      left ? ' ' : pad);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'p': {
            unsigned long long value = *f == 'p'
                                           ? (unsigned long long)(uintptr_t)va_arg(args, void*)
                                       : longs >= 2 || sizeT ? va_arg(args, unsigned long long)
                                                             : va_arg(args, unsigned);
            unsigned base = *f == 'u' ? 10 : 16;
            if (*f == 'p' && width == 0) width = 16, pad = '0';
            putPadded(&out, digits, formatNumber(digits, value, base, *f == 'X', 0), width, left,
                      left ? ' ' : pad);
            break;
        }
        case 'f': {
            /* Fixed notation of a value below 2^63, rounded half away from zero. */
            double value = va_arg(args, double);
            char text[48];
            size_t length = 0;
            if (value < 0) {
                text[length++] = '-';
                value = -value;
            }
            if (precision > 9) precision = 9;
            unsigned long long scale = 1;
            for (int i = 0; i < precision; ++i)
                scale *= 10;
            double scaled = value * (double)scale + 0.5;
            if (!(scaled < 9.2e18)) scaled = 9.2e18; /* also NaN */
            unsigned long long whole = (unsigned long long)scaled;
            length += formatNumber(text + length, whole / scale, 10, 0, 0);
            if (precision > 0) {
                text[length++] = '.';
                char fraction[24];
                size_t count = formatNumber(fraction, whole % scale, 10, 0, 0);
                for (size_t i = count; i < (size_t)precision; ++i)
                    text[length++] = '0';
                for (size_t i = 0; i < count; ++i)
                    text[length++] = fraction[i];
            }
            putPadded(&out, text, length, width, left, left ? ' ' : pad);
            break;
        }
        case '%':
            put(&out, '%');
            break;
        default: /* not one the test host uses: shown as written */
            put(&out, '%');
            if (*f == '\0')
                --f;
            else
                put(&out, *f);
            break;
        }
    }
    if (size > 0) buffer[out.length < size ? out.length : size - 1] = '\0';
    return (int)out.length;
}

int __mingw_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    return formatText(buffer, size, format, args);
}

int __mingw_vsprintf(char* buffer, const char* format, va_list args) {
    return formatText(buffer, (size_t)-1 / 2, format, args);
}

int __mingw_vfprintf(FILE* file, const char* format, va_list args) {
    char small[512];
    va_list again;
    va_copy(again, args);
    int length = formatText(small, sizeof small, format, args);
    char* text = small;
    if ((size_t)length >= sizeof small) {
        text = malloc((size_t)length + 1);
        if (text == NULL) {
            va_end(again);
            return -1;
        }
        formatText(text, (size_t)length + 1, format, again);
    }
    va_end(again);
    size_t written = fwrite(text, 1, (size_t)length, file);
    if (text != small) free(text);
    return written == (size_t)length ? length : -1;
}

long long strtoll(const char* text, char** end, int base) {
    return _strtoi64(text, end, base);
}

/* Thread-local variables: the linker gathers them between these markers (".tls" sorts before the
 * compiler's ".tls$" and the end's ".tls$ZZZ") and points the image's TLS directory at _tls_used;
 * the loader then gives every thread its copy and stores the module's slot in _tls_index. */
unsigned int _tls_index = 0;
__attribute__((section(".tls"))) char _tls_start = 0;
__attribute__((section(".tls$ZZZ"))) char _tls_end = 0;
typedef void (*TlsCallback)(void*, unsigned long, void*);
static const TlsCallback noCallbacks[1] = {0};
const struct {
    uint64_t startOfData, endOfData, indexAddress, callbacks;
    uint32_t zeroFill, characteristics;
} _tls_used = {
    (uint64_t)&_tls_start, (uint64_t)&_tls_end, (uint64_t)&_tls_index, (uint64_t)noCallbacks, 0, 0};
