#pragma once

// Makes the certificates dialog's Personalize button open the personalization dialog for the
// card in the row's reader, modally, and report whether it launched a restarted instance.
void InstallPersonalizeRunner();
