// The numbered lines the sample agent floods its output with, also used by those who check
// that output: line n is n in 16 digits, a blank, (n % 61) letters and a newline.
#ifndef OSTARA_TOOLS_FLOODLINES_H
#define OSTARA_TOOLS_FLOODLINES_H

#include <cstdlib>
#include <cstring>
#include <string>

class FloodLines
{
public:
    explicit FloodLines(unsigned long long first = 1) : next(first) {}

    static std::string line(unsigned long long n)
    {
        std::string digits = std::to_string(n);
        std::string text(16 - (digits.size() < 16 ? digits.size() : 16), '0');
        text += digits;
        text += ' ';
        text.append(n % 61, static_cast<char>('a' + n % 26));
        text += '\n';
        return text;
    }

    // Fills up to `size` bytes with whole lines; returns the bytes used.
    std::size_t fill(char* buffer, std::size_t size)
    {
        std::size_t used = 0;
        for (;;) {
            std::size_t length = 18 + next % 61;
            if (used + length > size) {
                return used;
            }
            unsigned long long n = next++;
            for (int i = 15; i >= 0; --i, n /= 10) {
                buffer[used + i] = static_cast<char>('0' + n % 10);
            }
            buffer[used + 16] = ' ';
            std::memset(buffer + used + 17, 'a' + (next - 1) % 26, length - 18);
            buffer[used + length - 1] = '\n';
            used += length;
        }
    }

    // The number of the line that starts at `text`, as written by fill().
    static unsigned long long number(const char* text) { return std::strtoull(std::string(text, 16).c_str(), nullptr, 10); }

private:
    unsigned long long next;
};

#endif
