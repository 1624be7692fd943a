// Under Node.js, hands the process's LQ2X_* variables (the kernel hooks and
// the allowed-missing list) to the program's getenv, which otherwise sees
// only emscripten's defaults. Linked in with --pre-js.
Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function () {
  for (var name in process.env)
    if (name.indexOf('LQ2X_') === 0)
      ENV[name] = process.env[name];
});
