-- wrk script: each connection walks the request list of the file named by BENCH_PATHS, each
-- thread from its own starting point, one request at a time on a kept-alive connection.
local paths = {}
for line in io.lines(os.getenv("BENCH_PATHS")) do
  paths[#paths + 1] = line
end
local counter = 0
local threads = {}

function setup(thread)
  counter = counter + 1
  thread:set("start", counter * 997)
end

local i = 0
function init(args)
  i = start or 0
end

function request()
  i = i % #paths + 1
  return wrk.format("GET", paths[i])
end
