// Placeholder until this module is written.
#include "morvane.h"

NameNode* browser_list = nullptr;
NameNode* browser_selected = nullptr;
std::vector<NameNode*> browser_pages;
int browser_page = 0;
int browser_page_count = 0;
std::string file_browser() { fatal_error("No file given (the file browser is not built yet)", nullptr); }
void build_pages() {}
void draw_listing(NameNode*) {}
void highlight_name(NameNode*, int, int) {}
void draw_browser_title(const std::string&) {}
void draw_browser_keys(const char*) {}
void browser_line_up() {}
void browser_line_down() {}
void browser_page_up() {}
void browser_page_down() {}
void browser_home() {}
void browser_end() {}
void browser_redraw() {}
void browser_resize_redraw() {}
std::string permission_string(unsigned) { return {}; }
