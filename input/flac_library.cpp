#include "input/flac_library.h"

#include "platform/executable_path.h"
#include "platform/library_names.h"

namespace oskavi {
namespace {

template <typename Function>
bool bind(const DynamicLibrary& library, const char* name, Function& target) {
    target = reinterpret_cast<Function>(library.symbol(name));
    return target != nullptr;
}

DynamicLibrary load_first(const FlacLibrarySearch& search) {
    for (const std::string& directory : search.directories) {
        if (directory.empty()) {
            continue;
        }
        for (const std::string& name : search.names) {
            DynamicLibrary library = DynamicLibrary::load(directory + name);
            if (library.loaded()) {
                return library;
            }
        }
    }
    if (search.system_search) {
        for (const std::string& name : search.names) {
            DynamicLibrary library = DynamicLibrary::load(name);
            if (library.loaded()) {
                return library;
            }
        }
    }
    return {};
}

}  // namespace

FlacLibrarySearch default_flac_library_search() {
    FlacLibrarySearch search;
    search.directories.push_back(directory_of(executable_path()));
    search.names = libflac_file_names();
    search.system_search = true;
    return search;
}

FlacLibrary::FlacLibrary(const FlacLibrarySearch& search) : library_(load_first(search)) {
    if (!library_.loaded()) {
        error_message_ =
            "libFLAC runtime DLL was not found beside oskavi.exe or in the Windows DLL search path";
        return;
    }
    bind_entry_points();
}

void FlacLibrary::bind_entry_points() {
    FlacEntryPoints& e = entry_points_;
    const char* missing = nullptr;
    if (!bind(library_, "FLAC__stream_decoder_new", e.decoder_new)) {
        missing = "FLAC__stream_decoder_new";
    } else if (!bind(library_, "FLAC__stream_decoder_delete", e.decoder_delete)) {
        missing = "FLAC__stream_decoder_delete";
    } else if (!bind(library_, "FLAC__stream_decoder_init_file", e.init_file)) {
        missing = "FLAC__stream_decoder_init_file";
    } else if (!bind(library_, "FLAC__stream_decoder_process_until_end_of_stream",
                     e.process_until_end_of_stream)) {
        missing = "FLAC__stream_decoder_process_until_end_of_stream";
    } else if (!bind(library_, "FLAC__stream_decoder_finish", e.finish)) {
        missing = "FLAC__stream_decoder_finish";
    }
    if (missing != nullptr) {
        error_message_ = std::string("libFLAC missing required export: ") + missing;
        library_.release();
        return;
    }
    bind(library_, "FLAC__stream_decoder_set_md5_checking", e.set_md5_checking);
    bind(library_, "FLAC__stream_decoder_get_resolved_state_string", e.resolved_state_string);
}

const FlacLibrary& FlacLibrary::instance() {
    static const FlacLibrary library(default_flac_library_search());
    return library;
}

bool FlacLibrary::available() const {
    const FlacEntryPoints& e = entry_points_;
    return library_.loaded() && e.decoder_new != nullptr && e.decoder_delete != nullptr &&
           e.init_file != nullptr && e.process_until_end_of_stream != nullptr && e.finish != nullptr;
}

}  // namespace oskavi
