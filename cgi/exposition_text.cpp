#include "cgi/exposition_text.h"

#include <math.h>
#include <stdio.h>

#include "cgi/utf8.h"

void label_value_str(const char* text) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    putchar('"');
    while (*s) {
        if (*s >= 0x80) {
            s = put_utf8_sequence(s);
            continue;
        }
        switch (*s) {
            case '\\': fwrite("\\\\", 1, 2, stdout); break;
            case '"': fwrite("\\\"", 1, 2, stdout); break;
            case '\n': fwrite("\\n", 1, 2, stdout); break;
            default: putchar(*s); break;
        }
        s++;
    }
    putchar('"');
}

void sample_value(double value) {
    if (isnan(value)) {
        fwrite("NaN", 1, 3, stdout);
    } else if (isinf(value)) {
        fwrite(value > 0 ? "+Inf" : "-Inf", 1, 4, stdout);
    } else {
        printf("%.15g", value);
    }
}
