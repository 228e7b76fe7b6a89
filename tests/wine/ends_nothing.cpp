// Stands in for Wine's wineboot.exe where a row's log-off must end nothing: the request is accepted, and that is all.
int wmain() { return 0; }
