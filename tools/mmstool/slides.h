#pragma once
// The presentation subcommands of mmstool: slides and compose.
#include <string>
#include <vector>

int SlidesCommand(const std::vector<std::string>& args);
int ComposeCommand(const std::vector<std::string>& args);
