#include "link/LineAssembler.h"

#include "link/LineFrame.h"

bool AppendRxByte(char *line, std::int16_t &length, char byte)
{
    if (length < 0 || length >= kLineBufferSize)
        length = 0;
    line[length++] = byte;
    if (length >= kLineBufferSize)
        length = 0;
    if (byte != '\n')
        return false;
    line[length] = '\0';
    return true;
}
