# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DOUTPUT=<file.cpp> -DICONS=<directory> -P EmbedIcons.cmake
# Writes the two button icons, at one and at two device pixels to a pixel, as byte arrays
# behind ReadIconPng(), WriteIconPng(), ReadIconPng2x() and WriteIconPng2x().
function(embed name file)
  file(READ "${ICONS}/${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  " hex "${hex}")
  set(code "${code}
const unsigned char ${name}Data[${bytes}] = {
  ${hex}
};
" PARENT_SCOPE)
endfunction()

set(code "// Made by EmbedIcons.cmake from the icon files; do not edit.
#include \"widgets/icons/ButtonIcons.h\"

namespace {
")
embed(read btnRead.png)
embed(write btnWrite.png)
embed(read2x btnRead@2x.png)
embed(write2x btnWrite@2x.png)
set(code "${code}
}  // namespace

QByteArray ReadIconPng()
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(readData), sizeof readData);
}

QByteArray WriteIconPng()
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(writeData), sizeof writeData);
}

QByteArray ReadIconPng2x()
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(read2xData), sizeof read2xData);
}

QByteArray WriteIconPng2x()
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(write2xData), sizeof write2xData);
}
")
file(WRITE "${OUTPUT}.tmp" "${code}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
