#include "app/state.h"

#include "store/profile_file.h"

namespace quillory {

void takeRunDirectory() {
    runDirectory = files::executableDirectory();
}

}  // namespace quillory
