// The browser tests run headless in Debian's chromium, one brindle-web per test.
export default {
  testDir: '.',
  testMatch: '*.test.mjs',
  timeout: 60000,
  workers: 1,
  retries: 0,
  reporter: 'line',
  use: {
    headless: true,
    viewport: {width: 1366, height: 768},
    launchOptions: {
      executablePath: process.env.BRINDLE_CHROMIUM || '/usr/bin/chromium',
      // A name of another site that leads to this machine, as DNS rebinding makes one.
      args: ['--host-resolver-rules=MAP rebind.test 127.0.0.1'],
    },
  },
};
