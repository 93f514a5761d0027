#include "common/gl_window.h"

#include "support/media.h"

#include <memory>

namespace test {

bool gl_window() {
    static const std::unique_ptr<kesp::Media_lock> media = [] {
        kesp::conf.width = gl_width;
        kesp::conf.height = gl_height;
        kesp::conf.full = false;
        kesp::conf.vsync = false;
        return std::make_unique<kesp::Media_lock>("Quorla test");
    }();
    return static_cast<bool>(*media);
}

}  // namespace test
