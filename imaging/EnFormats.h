#pragma once
// Registers the file formats with the format registry, in the order the
// format units start: TIFF, PCX, DCX, Targa, JPEG, PNG. Registering twice
// adds nothing. Icons are not registered.
void RegisterImagingFormats();
