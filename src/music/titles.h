#pragma once

#include <pugixml.hpp>
#include <string>

// The title and composer a MusicXML score states, read the same way wherever a score is read:
// the work title, else the movement title; the first creator of type composer. Texts are
// trimmed; what the score does not state stays empty. `root` is the document's root element.
void readScoreTitles(const pugi::xml_node& root, std::string* title, std::string* composer);
