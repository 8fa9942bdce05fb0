// For backends that place every cell themselves: a text as cells, where a
// newline moves the cursor to column 0 of the next row and erases nothing,
// as on a console.
#pragma once

template <typename PutCode, typename NewLine>
void putTextAsCells(const char* text, PutCode putCode, NewLine newLine)
{
    for (; *text != '\0'; ++text) {
        if (*text == '\n')
            newLine();
        else
            putCode(static_cast<unsigned char>(*text));
    }
}
