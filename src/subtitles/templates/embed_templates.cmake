# Compiles the document templates in this folder into the subtitles library: every *.xml file
# becomes a generated header <subtitles/templates/NAME.h> in the build tree that defines
# quillora::templates::NAME (a std::string_view) holding the file's bytes. The files end with one
# line feed for the sake of editors; that last line feed is not part of the template.
# Include this file from the folder that defines quillora_subtitles.

set(_quillora_template_dir "${CMAKE_CURRENT_LIST_DIR}")
set(_quillora_template_out "${CMAKE_CURRENT_BINARY_DIR}/generated")
file(GLOB _quillora_templates CONFIGURE_DEPENDS "${_quillora_template_dir}/*.xml")
set(_quillora_template_headers "")
foreach(template IN LISTS _quillora_templates)
    get_filename_component(stem "${template}" NAME_WE)
    set(header "${_quillora_template_out}/subtitles/templates/${stem}.h")
    add_custom_command(
        OUTPUT "${header}"
        COMMAND "${CMAKE_COMMAND}" "-DINPUT=${template}" "-DOUTPUT=${header}" "-DNAME=${stem}"
                -P "${_quillora_template_dir}/embed_file.cmake"
        DEPENDS "${template}" "${_quillora_template_dir}/embed_file.cmake"
        COMMENT "Embedding template ${stem}"
        VERBATIM)
    list(APPEND _quillora_template_headers "${header}")
endforeach()
target_sources(quillora_subtitles PRIVATE ${_quillora_template_headers})
target_include_directories(quillora_subtitles PRIVATE "${_quillora_template_out}")
