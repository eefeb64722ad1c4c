// lvplatform_files.h - paths, files and directories of the platform layer.
// Included by lvplatform.h; not included directly by other subsystems.
#pragma once
