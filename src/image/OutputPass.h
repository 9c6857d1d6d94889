#pragma once

class CMOXLinker;

// Writes the image the linker laid out into its buffer: header, class
// records, translated code with exception tables, string tables; then the
// listing files when the WriteListing setting is on. Raises EError; after an
// error the image is incomplete.
void WriteMoxImage(CMOXLinker& linker);
