#pragma once
// A minimal Word document (.docx): a zip, stored without compression, of the three parts a
// word processor needs: the content types, the package relationships and the document body.
#include <string>
#include <vector>

// paragraphs: UTF-8 text, one paragraph each.
std::string BuildDocx(const std::vector<std::string>& paragraphs);

// The zip container on its own: (name, bytes) entries stored as they are.
std::string BuildStoredZip(const std::vector<std::pair<std::string, std::string>>& entries);
