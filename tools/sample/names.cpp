// names.cpp: word lists of the sample city and the UTF-8 to Big5 conversion (see names.h).
#include "names.h"

#include <stdexcept>

#include "kcommon/big5.h"

namespace ksample {

std::string to_big5(const std::string& utf8) {
    auto big5 = kcommon::utf8_to_big5(utf8, kcommon::NoBig5::fail);
    if (!big5) throw std::runtime_error("no Big5 form for the text \"" + utf8 + "\"");
    return std::move(*big5);
}

size_t big5_length(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80)
            n += 1;
        else if ((c & 0xC0) != 0x80)
            n += 2;  // lead byte of a multi-byte character
    }
    return n;
}

const std::vector<std::string>& road_stems() {
    static const std::vector<std::string> stems = {
        "中山", "中正", "民生", "民權", "民族", "忠孝", "仁愛", "信義", "和平", "復興", "建國",
        "光復", "敦化", "南京", "長安", "八德", "市民", "松江", "林森", "新生", "承德", "重慶",
        "延平", "康定", "西寧", "昆明", "成都", "漢口", "開封", "衡陽", "博愛", "公園", "杭州",
        "金山", "青田", "永康", "麗水", "溫州", "汀州", "辛亥", "基隆", "光明", "福德", "興隆",
        "文化", "自由", "成功", "勝利", "大同", "民主", "三民", "五福", "四維", "自強", "莊敬",
        "中華", "育英", "學府", "新興", "崇德", "華興", "龍江", "吉林", "遼寧", "撫順", "錦州",
        "天津", "濟南", "青島", "酒泉", "伊通", "農安", "民樂", "雙連", "士東", "天母", "明德",
        "石牌", "振興", "榮華", "裕民", "致遠", "懷德", "立德", "文林", "大南", "後港", "延吉",
        "光華", "八里", "永吉", "松山", "松德", "虎林", "福林", "雨農", "至善", "故宮", "德行",
        "忠誠", "中庸", "大業", "舊宗", "瑞光", "港墘", "文湖", "內湖", "成美", "康寧", "環山",
        "安康", "景美", "木柵", "指南", "萬壽", "秀明", "保儀", "政大", "萬芳", "景福", "西園",
        "環南", "東園", "德昌", "寶興", "青年", "莒光", "大理", "富民", "雙園", "水源", "廈門",
        "同安", "牯嶺", "泉州", "南海", "寧波", "愛國", "南昌", "金華", "潮州",
    };
    return stems;
}

const std::vector<std::string>& place_stems() {
    static const std::vector<std::string> stems = {
        "福德", "興隆", "仁愛", "和平", "安康", "永樂", "光明", "文昌", "華興", "新民", "忠孝",
        "信義", "中正", "大同", "東興", "西湖", "南門", "北辰", "長春", "松柏", "竹林", "梅花",
        "蘭亭", "菊園", "錦安", "龍山", "鳳鳴", "雙和", "三興", "四維", "五常", "六合", "七賢",
        "八德", "九如", "十全", "延壽", "永春", "吉祥", "瑞安", "泰和", "豐年", "富貴", "榮耀",
        "仁德", "義方", "禮門", "智慧", "清水", "翠湖", "青山", "白沙", "紅樹", "金城", "玉泉",
    };
    return stems;
}

const std::vector<std::string>& section_words() {
    static const std::vector<std::string> words = {"一段", "二段", "三段", "四段",
                                                   "五段", "六段", "七段"};
    return words;
}

std::string chinese_number(int n) {
    static const char* const digits[] = {"零", "一", "二", "三", "四", "五",
                                         "六", "七", "八", "九", "十"};
    if (n >= 0 && n <= 10) return digits[n];
    return std::to_string(n);
}

std::string neighbourhood_name(Rng& rng) {
    const auto& stems = place_stems();
    return stems[rng.irange(0, static_cast<int>(stems.size()) - 1)] + "里";
}

}  // namespace ksample
